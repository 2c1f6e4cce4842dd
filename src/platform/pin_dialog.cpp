#include "platform/pin_dialog.h"

#include "platform/dialog_art.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QTimer>

namespace quillix::platform {
namespace {

constexpr int kClientWidth = 200;
constexpr int kClientHeight = 102;

}  // namespace

PinDialog::PinDialog(settings::AppOptions& options, settings::SettingsStore& regeditSettings, QWidget* parent)
    : QDialog(parent), options_(options), regeditSettings_(regeditSettings), entry_(options.PinHash)
{
    setWindowTitle(QStringLiteral("PIN"));
    setWindowFlags((windowFlags() | Qt::MSWindowsFixedSizeDialogHint) & ~Qt::WindowContextHelpButtonHint);
    setFixedSize(kClientWidth, kClientHeight);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::WindowText, Qt::black);
    setPalette(white);
    setAutoFillBackground(true);
    setFont(DialogFont());

    auto* picture = new QLabel(this);
    picture->setGeometry(10, 12, 41, 41);
    picture->setPixmap(QPixmap::fromImage(PadlockPicture(41)));

    pinLabel_ = new QLabel(QStringLiteral("PIN:"), this);
    pinLabel_->setGeometry(62, 8, 120, 16);

    // The field only shows the stars: every key goes through the dialog's rules, so nothing can be
    // pasted, dropped or corrected into it.
    field_ = new QLineEdit(this);
    QFont big = field_->font();
    big.setBold(true);
    big.setPixelSize(24);
    field_->setFont(big);
    field_->setGeometry(62, 26, 126, 34);
    field_->setContextMenuPolicy(Qt::NoContextMenu);
    field_->setAcceptDrops(false);
    field_->setAttribute(Qt::WA_InputMethodEnabled, false);
    field_->installEventFilter(this);
    pinLabel_->setBuddy(field_);

    wait_ = new QLabel(QStringLiteral("Please wait ..."), this);
    wait_->setGeometry(62, 70, 126, 20);
    wait_->hide();

    lockoutTimer_ = new QTimer(this);
    lockoutTimer_->setSingleShot(true);
    connect(lockoutTimer_, &QTimer::timeout, this, &PinDialog::endLockout);
}

void PinDialog::showEvent(QShowEvent* event)
{
    entry_ = settings::PinEntry(options_.PinHash);
    unlocked_ = false;
    field_->clear();
    if (options_.PinErrors > 0) {
        lockoutTimer_->setInterval(settings::LockoutMs(options_.PinErrors));
        lockoutTimer_->start();
        wait_->show();
    }
    if (const QScreen* screen = QGuiApplication::primaryScreen()) move(screen->geometry().center() - rect().center());
    QDialog::showEvent(event);
    activateWindow();
    field_->setFocus();
}

void PinDialog::endLockout()
{
    lockoutTimer_->stop();
    wait_->hide();
    field_->clear();
}

bool PinDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == field_) {
        switch (event->type()) {
        case QEvent::KeyPress: keyPressEvent(static_cast<QKeyEvent*>(event)); return true;
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::InputMethod:
        // A middle click would paste the selection; a drag would carry the stars away.
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove: return true;
        default: break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void PinDialog::keyPressEvent(QKeyEvent* event)
{
    const QString text = event->text();
    const bool digit = text.size() == 1 && text.front() >= QLatin1Char('0') && text.front() <= QLatin1Char('9');
    if (!digit) {
        // Escape closes, like the close button; everything else does nothing.
        QDialog::keyPressEvent(event);
        return;
    }
    event->accept();
    if (lockoutTimer_->isActive()) return;
    const settings::PinEntry::Outcome outcome = entry_.Type(static_cast<char>(text.front().unicode()));
    field_->setText(QString::fromStdString(entry_.Stars()));
    switch (outcome) {
    case settings::PinEntry::Outcome::Unlocked:
        unlocked_ = true;
        settings::ResetPinFailures(options_, regeditSettings_);
        accept();
        break;
    case settings::PinEntry::Outcome::Failed:
        settings::CountPinFailure(options_, regeditSettings_);
        QDialog::reject();
        break;
    case settings::PinEntry::Outcome::Pending:
    case settings::PinEntry::Outcome::Ignored: break;
    }
}

void PinDialog::reject()
{
    // Closed without the right digits: the caller ends the program. Wrong digits closed away
    // are not counted as a failure.
    unlocked_ = false;
    QDialog::reject();
}

bool AskPinAtStart(settings::AppOptions& options, settings::SettingsStore& regeditSettings, QWidget* parent)
{
    if (!settings::PinRequired(options)) return true;
    PinDialog dialog(options, regeditSettings, parent);
    dialog.exec();
    return dialog.unlocked();
}

}  // namespace quillix::platform
