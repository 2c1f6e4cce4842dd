#include "platform/pin_dialog.h"

#include "platform/dialog_art.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QTimer>

namespace quillix::platform {
namespace {

constexpr int kClientWidth = 182;
constexpr int kClientHeight = 102;

}  // namespace

PinDialog::PinDialog(settings::AppOptions& options, settings::SettingsStore& regeditSettings, QWidget* viewer,
                     QWidget* parent)
    : QDialog(parent), options_(options), regeditSettings_(regeditSettings), viewer_(viewer), entry_(options.PinHash)
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

    stars_ = new QLabel(this);
    QFont big = stars_->font();
    big.setBold(true);
    big.setPixelSize(32);
    stars_->setFont(big);
    stars_->setGeometry(60, 12, 116, 44);
    stars_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    wait_ = new QLabel(QStringLiteral("Please wait ..."), this);
    wait_->setGeometry(60, 66, 116, 20);
    wait_->hide();

    lockoutTimer_ = new QTimer(this);
    lockoutTimer_->setSingleShot(true);
    connect(lockoutTimer_, &QTimer::timeout, this, &PinDialog::endLockout);
}

void PinDialog::showEvent(QShowEvent* event)
{
    if (viewer_) {
        viewerGeometry_ = viewer_->geometry();
        viewerState_ = viewer_->windowState();
        // A full-screen or maximised window keeps its size whatever it is told.
        viewer_->setWindowState(Qt::WindowNoState);
        viewer_->resize(1, 1);
    }
    entry_ = settings::PinEntry(options_.PinHash);
    unlocked_ = false;
    stars_->clear();
    if (options_.PinErrors > 0) {
        lockoutTimer_->setInterval(settings::LockoutMs(options_.PinErrors));
        lockoutTimer_->start();
        wait_->show();
    }
    if (const QScreen* screen = QGuiApplication::primaryScreen()) move(screen->geometry().center() - rect().center());
    QDialog::showEvent(event);
    activateWindow();
    setFocus();
}

void PinDialog::endLockout()
{
    lockoutTimer_->stop();
    wait_->hide();
    stars_->clear();
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
    stars_->setText(QString::fromStdString(entry_.Stars()));
    switch (outcome) {
    case settings::PinEntry::Outcome::Unlocked:
        unlocked_ = true;
        restoreViewer();
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

void PinDialog::restoreViewer()
{
    if (!viewer_) return;
    viewer_->setGeometry(viewerGeometry_);
    viewer_->setWindowState(viewerState_);
}

bool AskPinAtStart(settings::AppOptions& options, settings::SettingsStore& regeditSettings, QWidget* viewer,
                   QWidget* parent)
{
    if (!settings::PinRequired(options)) return true;
    PinDialog dialog(options, regeditSettings, viewer, parent);
    dialog.exec();
    return dialog.unlocked();
}

}  // namespace quillix::platform
