#pragma once

#include <QDialog>

#include <string>
#include <vector>

class QPushButton;
class QScrollArea;

namespace quillix::platform {

// "Select folder": one button per subfolder name, in the given order, and "Cancel" at the
// bottom. The buttons scroll when they do not fit above Cancel; Tab and the arrow keys move
// between them, Enter or Space presses the focused one, Esc cancels.
class SubfolderDialog : public QDialog {
    Q_OBJECT

public:
    explicit SubfolderDialog(const std::vector<std::string>& names, QWidget* parent = nullptr);

    // The name whose button was pressed; empty until then and after a cancel.
    const std::string& chosen() const { return chosen_; }

    const std::vector<QPushButton*>& folderButtons() const { return buttons_; }
    QPushButton* cancelButton() const { return cancel_; }
    QScrollArea* scrollArea() const { return area_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::vector<std::string> names_;
    std::vector<QPushButton*> buttons_;
    QPushButton* cancel_;
    QScrollArea* area_;
    std::string chosen_;
};

// Shows SubfolderDialog modally over `parent`: the chosen name, or empty when it was cancelled.
std::string SelectSubfolderDialog(const std::vector<std::string>& names, QWidget* parent = nullptr);

}  // namespace quillix::platform
