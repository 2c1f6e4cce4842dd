#include "platform/subfolder_dialog.h"

#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>

#include <algorithm>
#include <iterator>

namespace quillix::platform {
namespace {

constexpr int kClientWidth = 400;
constexpr int kClientHeight = 500;
constexpr int kMargin = 10;
constexpr int kButtonHeight = 40;
constexpr int kButtonStep = 45;
constexpr int kCancelTop = kClientHeight - 60;

// Lays the buttons out from its own width, so they narrow when a scroll bar takes room.
class ButtonColumn : public QWidget {
public:
    using QWidget::QWidget;
    std::vector<QPushButton*> buttons;

    int neededHeight() const { return kMargin + kButtonStep * static_cast<int>(buttons.size()); }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        for (std::size_t i = 0; i < buttons.size(); ++i)
            buttons[i]->setGeometry(kMargin, kMargin + kButtonStep * static_cast<int>(i), width() - 2 * kMargin,
                                    kButtonHeight);
    }
};

}  // namespace

SubfolderDialog::SubfolderDialog(const std::vector<std::string>& names, QWidget* parent)
    : QDialog(parent), names_(names)
{
    setWindowTitle("Select folder");
    setFixedSize(kClientWidth, kClientHeight);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    // Without a frame the column starts at the client's corner, so a button sits where it would
    // without the scroll area.
    area_ = new QScrollArea(this);
    area_->setFrameShape(QFrame::NoFrame);
    area_->setFocusPolicy(Qt::NoFocus);
    area_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area_->setWidgetResizable(true);
    area_->setGeometry(0, 0, kClientWidth, kCancelTop - (kButtonStep - kButtonHeight));

    auto* column = new ButtonColumn;
    for (std::size_t i = 0; i < names_.size(); ++i) {
        QString caption = QString::fromUtf8(names_[i].data(), static_cast<qsizetype>(names_[i].size()));
        auto* button = new QPushButton(caption.replace('&', "&&"), column);
        button->installEventFilter(this);
        connect(button, &QPushButton::clicked, this, [this, i] {
            chosen_ = names_[i];
            accept();
        });
        column->buttons.push_back(button);
    }
    buttons_ = column->buttons;
    column->setMinimumHeight(column->neededHeight());
    area_->setWidget(column);

    cancel_ = new QPushButton("Cancel", this);
    cancel_->setGeometry(kMargin, kCancelTop, kClientWidth - 2 * kMargin, kButtonHeight);
    cancel_->installEventFilter(this);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

    const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen) move(screen->availableGeometry().center() - rect().center());
}

bool SubfolderDialog::eventFilter(QObject* watched, QEvent* event)
{
    auto* button = qobject_cast<QPushButton*>(watched);
    if (!button) return QDialog::eventFilter(watched, event);

    // Whatever moved the focus (Tab, arrows, a click), the focused button is scrolled into view.
    if (event->type() == QEvent::FocusIn && button != cancel_) area_->ensureWidgetVisible(button, 0, kMargin);

    // Push buttons take Left and Right as focus moves but leave Up and Down to the scroll area,
    // which would scroll away from the focus; here they walk the column and on to Cancel.
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            std::vector<QPushButton*> order = buttons_;
            order.push_back(cancel_);
            const auto at = std::find(order.begin(), order.end(), button);
            if (key == Qt::Key_Up && at != order.begin()) (*std::prev(at))->setFocus(Qt::OtherFocusReason);
            if (key == Qt::Key_Down && std::next(at) != order.end()) (*std::next(at))->setFocus(Qt::OtherFocusReason);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

std::string SelectSubfolderDialog(const std::vector<std::string>& names, QWidget* parent)
{
    SubfolderDialog dialog(names, parent);
    return dialog.exec() == QDialog::Accepted ? dialog.chosen() : std::string();
}

}  // namespace quillix::platform
