#pragma once

#include <QDialog>
#include <QImage>
#include <QString>
#include <QUrl>

class QLabel;
class QPushButton;

namespace quillix::platform {

struct AboutLink {
    QString text;
    QUrl url;
};

// The two links of the about box: the web addresses the build names (QUILLIX_HOMEPAGE_URL,
// QUILLIX_MAKER_URL), or, for a build that names none, the program's own guide and licence as
// installed with it (`appDir`/../share/doc/quillix) or beside its sources.
AboutLink ProductLink(const QString& appDir);
AboutLink MakerLink(const QString& appDir);

// "About Brindle": the program's name, version and links, what it is built with, its licence.
class AboutDialog : public QDialog {
    Q_OBJECT

public:
    explicit AboutDialog(const QImage& marble, QWidget* parent = nullptr);

    QLabel* productLinkLabel() const { return productLink_; }
    QLabel* makerLinkLabel() const { return makerLink_; }
    QLabel* footer() const { return footer_; }
    QPushButton* applyButton() const { return apply_; }

signals:
    // A link was clicked; it is opened in the desktop's browser.
    void linkOpened(const QUrl& url);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QImage marble_;
    QLabel* productLink_;
    QLabel* makerLink_;
    QLabel* footer_;
    QPushButton* apply_;
};

// Shows the about box modally over `owner`.
void ShowAboutDialog(QWidget* owner, const QImage& marble);

}  // namespace quillix::platform
