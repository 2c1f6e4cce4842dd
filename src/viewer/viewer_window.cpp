#include "viewer/viewer_window.h"

#include "browse/file_commands.h"
#include "browse/file_operations.h"
#include "browse/folder_model.h"
#include "browse/rotation_notice.h"
#include "common/paths.h"
#include "container/container_file.h"
#include "imaging/padlock.h"
#include "imaging/secure_picture.h"
#include "viewer/gallery_link.h"
#include "viewer/image_loader.h"
#include "viewer/key_map.h"
#include "viewer/mouse_rules.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWheelEvent>

#include <unistd.h>

#include <chrono>
#include <cmath>

namespace quillix::viewer {

std::uint64_t NowMs()
{
    using namespace std::chrono;
    return static_cast<std::uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

namespace {

constexpr int kNoticeMs = 700;
// Long enough to be read as the picture appears.
constexpr int kPagesNoticeMs = 2500;
// Smooth shrinking of a picture up to this size is quick enough to do while painting.
constexpr qint64 kScaleHereMaxPixels = 4'000'000;
constexpr int kWheelNotch = 120;

Size SizeOf(const QImage& image)
{
    return {image.width(), image.height()};
}

bool HoldsCtrlOrShift(Qt::KeyboardModifiers modifiers)
{
    return (modifiers & (Qt::ControlModifier | Qt::ShiftModifier)) != 0;
}

QTimer* MakeTimer(QObject* parent, int interval, bool singleShot)
{
    auto* timer = new QTimer(parent);
    timer->setInterval(interval);
    timer->setSingleShot(singleShot);
    return timer;
}

// The digit of the main keyboard row, also when Shift or the layout turned it into another sign:
// the row's scan codes (evdev + 8, as X11 and Wayland report them) name the key, not the sign.
int MainRowKey(const QKeyEvent& event)
{
    const int key = event.key();
    if ((key >= Qt::Key_0 && key <= Qt::Key_9) || (event.modifiers() & Qt::KeypadModifier)) return key;
    const QString platform = QGuiApplication::platformName();
    if (platform != QLatin1String("xcb") && !platform.startsWith(QLatin1String("wayland"))) return key;
    const quint32 scan = event.nativeScanCode();
    if (scan >= 10 && scan <= 18) return Qt::Key_1 + static_cast<int>(scan - 10);
    if (scan == 19) return Qt::Key_0;
    return key;
}

}  // namespace

ViewerWindow::ViewerWindow(session::Session& session, ViewerEnvironment environment)
    : environment_(std::move(environment)), session_(session), player_(this)
{
    session_.cryptoEvents() = {
        [this] { refreshTimer->start(); },
        [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); },
        [this] { PasswordForgotten(); },
    };
    player_.setPool(&session_.Pool());
    pipeline_ = std::make_unique<PicturePipeline>(
        session_.Pool(), session_.Crypto(),
        [this](const std::string& path, const PictureSettings& settings) {
            return DecodeForViewer(path, session_.Crypto(), settings);
        },
        [this](std::shared_ptr<const DecodedPicture> decoded) { ShowPicture(std::move(decoded)); });
    pipeline_->OnScaled([this](qint64 sourceKey, QImage scaled) {
        const QImage* source = PaintSource();
        if (!source || source->cacheKey() != sourceKey) {
            imaging::WipePixels(scaled);
            return;
        }
        imaging::WipePixels(scaled_);
        scaled_ = std::move(scaled);
        scaledKey_ = sourceKey;
        update();
    });

    setWindowFlag(Qt::FramelessWindowHint);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::black);
    setPalette(palette);
    setFocusPolicy(Qt::StrongFocus);
    resize(1, 1);

    gifRepaintTimer = MakeTimer(this, 200, false);
    connect(gifRepaintTimer, &QTimer::timeout, this, &ViewerWindow::gifRepaintTick);
    gifRepaintTimer->start();
    overlayTimer = MakeTimer(this, 100, false);
    connect(overlayTimer, &QTimer::timeout, this, &ViewerWindow::overlayTick);
    refreshTimer = MakeTimer(this, 277, true);
    connect(refreshTimer, &QTimer::timeout, this, &ViewerWindow::reloadAfterPassword);
    gifFrameTimer_ = MakeTimer(this, 0, true);
    connect(gifFrameTimer_, &QTimer::timeout, this, [this] {
        if (gif_ && gif_->playback.Update(static_cast<std::int64_t>(NowMs()))) update();
        ScheduleGifFrame();
    });
    connect(&player_, &imaging::WebPPlayer::frameChanged, this, [this] {
        if (WebPMode) update();
    });
}

ViewerWindow::~ViewerWindow()
{
    // First: its running decodes read the session's FileCrypto, and its deliveries call into
    // this window.
    pipeline_.reset();
    session_.cryptoEvents() = {};
}

Size ViewerWindow::ScreenSize() const
{
    if (environment_.screenSize) return environment_.screenSize();
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return {};
    return {screen->geometry().width(), screen->geometry().height()};
}

Size ViewerWindow::ClientSize() const
{
    return {width(), height()};
}

ScalingMode ViewerWindow::Scaling() const
{
    return {session_.Options().ScaleToFit, session_.Options().FitWidth};
}

Size ViewerWindow::SourceSize() const
{
    if (player_.width() > 0 && player_.height() > 0) return {player_.width(), player_.height()};
    if (const QImage* source = PaintSource()) return SizeOf(*source);
    return {};
}

const QImage* ViewerWindow::PaintSource() const
{
    if (WebPMode && player_.width() > 0 && player_.height() > 0) return &player_.frame();
    if (gif_) return &gif_->animation.frames[static_cast<std::size_t>(gif_->playback.currentFrame())].image;
    if (!still_.isNull()) return &still_;
    return nullptr;
}

bool ViewerWindow::Pannable() const
{
    const Size drawn = DrawnSize(SourceSize(), zoom_.Zoom);
    return width() < drawn.width || height() < drawn.height;
}

int ViewerWindow::gifFrame() const
{
    return gif_ ? gif_->playback.currentFrame() : -1;
}

void ViewerWindow::StartStandalone(const std::string& path)
{
    GalleryMode = false;
    // The gallery, hidden for now, opens at this folder when the viewer returns to it. Its list is
    // filled before the picture is asked for, so that the next file is decoded ahead at once.
    if (gallery_) {
        session_.Model().OpenFolder(FolderOf(path));
        session_.Model().SyncToFile(path, false);
    }
    LoadImage(path);
    showFullScreen();
}

void ViewerWindow::OpenAsked(const std::string& path)
{
    // Opened on purpose, a container asks for its password rather than showing its lock screen.
    // Stepping onto one never asks: a prompt on every step through a folder would be a trap.
    if (container::IsEncryptedFile(path) && !session_.Crypto().HasPassword() &&
        session_.Crypto().EnsurePassword(false)) {
        // The picture is asked for below with the new password: no reload is due.
        refreshTimer->stop();
    }
    OpenFromGallery(path);
}

void ViewerWindow::OpenFromGallery(const std::string& path)
{
    GalleryMode = true;
    if (!isFullScreen() || !isVisible()) showFullScreen();
    if (gallery_) session_.Model().SyncToFile(path, false);
    LoadImage(path);
    update();
}

void ViewerWindow::ReturnToGallery()
{
    std::string path = currentPath_;
    if (path.empty() && gallery_) path = session_.Model().CurrentFileName();
    if (gallery_ && !path.empty()) {
        const int index = session_.Model().IndexOfFile(path);
        if (index >= 0) {
            session_.Model().SetCurrentIndex(index);
            // The gallery focuses its remembered tile when shown: that is the one the viewer
            // stepped to, not the one it was opened on.
            session_.Model().FocusOnShow(path);
        }
    }
    // Nothing changes behind the gallery's back, and the pictures decoded ahead are let go.
    pipeline_->CancelPending();
    pipeline_->Trim();
    if (gallery_) gallery_->ShowGallery();
    hide();
}

void ViewerWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    const std::string path = currentPath_.empty() ? pipeline_->PendingPath() : currentPath_;
    if (!path.empty() && gallery_) session_.Model().SyncToFile(path, false);
}

void ViewerWindow::closeEvent(QCloseEvent* event)
{
    Cleanup();
    event->accept();
    Quit();
}

void ViewerWindow::Quit()
{
    if (environment_.quit)
        environment_.quit(0);
    else
        QCoreApplication::exit(0);
}

void ViewerWindow::LoadImage(const std::string& path)
{
    LoadImage(path, false);
}

void ViewerWindow::LoadImage(const std::string& path, bool reload)
{
    session_.RememberLastDir(FolderOf(path));
    noticeSerialAtRequest_ = noticeSerial_;
    reloadKeepsNotice_ = reload;
    pipeline_->Request(path, NextInTravel(path), CurrentPictureSettings());
}

std::string ViewerWindow::NextInTravel(const std::string& path) const
{
    if (!gallery_) return {};
    const browse::FolderModel& model = session_.Model();
    const int index = model.IndexOfFile(path);
    if (index < 0) return {};
    const int next = index + (travelForward_ ? 1 : -1);
    if (next < 0 || next >= model.Count()) return {};
    return model.Files()[static_cast<std::size_t>(next)];
}

PictureSettings ViewerWindow::CurrentPictureSettings() const
{
    return {ScreenSize(), Scaling(), session_.Options().FileNamePW};
}

void ViewerWindow::ShowPicture(std::shared_ptr<const DecodedPicture> decoded)
{
    currentPath_ = decoded->path;
    Cleanup();
    // A notice given after the request (a command's "Rotated") belongs to the new picture; a
    // reload (after a password was entered, say) lets a command's notice finish its time too.
    if (noticeSerial_ == noticeSerialAtRequest_ && !(reloadKeepsNotice_ && notice_.deadline != 0)) notice_ = {};
    gif_.reset();
    still_ = QImage();
    scaled_ = QImage();
    shown_ = std::move(decoded);
    setWindowTitle(QString::fromStdString(FileNameOf(currentPath_)));
    if (shown_->failed()) {
        ShowLoadFailure(shown_->failure, shown_->locked);
        return;
    }
    const LoadedPicture& picture = shown_->picture;
    if (picture.webpAnimation) {
        // The player decodes an animation frame by frame as it plays, here on the window thread.
        if (!player_.LoadFromBytes(picture.webpAnimation->bytes, picture.encrypted)) {
            ShowLoadFailure(WebPFailureText(picture.encrypted));
            return;
        }
    } else if (picture.gif) {
        const int speed = picture.playerSpeed ? static_cast<int>(std::lround(100 * player_.Speed()))
                                              : imaging::GifSpeedPercent(player_.Speed());
        StartGif(*picture.gif, imaging::GifPassLimit(picture.gif->loopCount, picture.gifOrigin), speed);
    } else {
        still_ = picture.still;
        if (!shown_->fitted.isNull()) {
            scaled_ = shown_->fitted;
            scaledKey_ = still_.cacheKey();
        }
    }
    WebPMode = picture.webp;
    ResetZoomToFit();
    if (picture.pages > 1) ShowNotice("page 1 of " + std::to_string(picture.pages), kPagesNoticeMs);
}

void ViewerWindow::StartGif(imaging::GifAnimation animation, int passLimit, int speedPercent)
{
    std::vector<int> delays;
    delays.reserve(animation.frames.size());
    for (const imaging::GifFrame& frame : animation.frames)
        delays.push_back(frame.delayMs);
    gif_.emplace(GifShow{std::move(animation), imaging::GifPlayback(std::move(delays), passLimit, speedPercent)});
    gif_->playback.Start(static_cast<std::int64_t>(NowMs()));
    GifActive = true;
    ScheduleGifFrame();
}

void ViewerWindow::ScheduleGifFrame()
{
    if (!gif_ || !GifActive) return;
    const std::optional<std::int64_t> due = gif_->playback.nextDeadline();
    if (!due) return;
    const std::int64_t wait = *due - static_cast<std::int64_t>(NowMs());
    gifFrameTimer_->start(static_cast<int>(std::clamp<std::int64_t>(wait, 0, 60'000)));
}

void ViewerWindow::ShowLoadFailure(const std::string& message, bool locked)
{
    still_ = QImage();
    gif_.reset();
    GifActive = false;
    WebPMode = false;
    // A locked container is no error: its one line says what to do.
    zoomStatus_.text = FileNameOf(currentPath_) + (locked ? "" : " - Fehler");
    zoomStatus_.deadline = NowMs() + kZoomStatusMs;
    overlayTimer->start();
    ShowStickyNotice(message);
    update();
    QTimer::singleShot(0, this, [this] {
        if (isVisible()) setFocus();
    });
}

void ViewerWindow::Cleanup()
{
    gifFrameTimer_->stop();
    WebPMode = false;
    GifActive = false;
    player_.Clear();
}

void ViewerWindow::Refresh()
{
    // While a picture is on its way, that one is the file to read again.
    const std::string path = pipeline_->Pending() ? pipeline_->PendingPath() : currentPath_;
    if (path.empty()) return;
    pipeline_->Forget();
    LoadImage(path, true);
}

void ViewerWindow::ResetZoomToFit()
{
    ResetToFit(zoom_, SourceSize(), ScreenSize(), Scaling());
    dragging_ = false;
    update();
    ShowZoomStatus();
}

void ViewerWindow::ShowZoomStatus()
{
    zoomStatus_.text = ZoomStatusText(FileNameOf(currentPath_), zoom_.Zoom);
    zoomStatus_.deadline = NowMs() + kZoomStatusMs;
    overlayTimer->start();
}

void ViewerWindow::ShowNotice(const std::string& text, int milliseconds)
{
    ++noticeSerial_;
    notice_.text = text;
    notice_.deadline = NowMs() + static_cast<std::uint64_t>(std::max(milliseconds, 1));
    overlayTimer->start();
    update();
}

void ViewerWindow::ShowStickyNotice(const std::string& text)
{
    ++noticeSerial_;
    notice_.text = text;
    notice_.deadline = 0;
    overlayTimer->start();
    update();
}

void ViewerWindow::overlayTick()
{
    if (OverlayTimerDone(notice_, zoomStatus_, NowMs())) overlayTimer->stop();
    update();
}

void ViewerWindow::gifRepaintTick()
{
    if (GifActive && gif_) update();
}

void ViewerWindow::reloadAfterPassword()
{
    refreshTimer->stop();
    Refresh();
}

void ViewerWindow::paintEvent(QPaintEvent*)
{
    if (detached_) return;
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (const QImage* source = PaintSource(); source && !source->isNull()) {
        const Placement place = PlaceImage(zoom_, SizeOf(*source), ClientSize());
        const QRect target(place.left, place.top, place.width, place.height);
        if (place.width < source->width() || place.height < source->height()) {
            // Shrinking: an area-averaged copy made once per zoom looks far better than sampling.
            const qint64 key = source->cacheKey();
            const bool container = shown_ && shown_->encrypted;
            const bool haveCopy = !scaled_.isNull() && scaledKey_ == key;
            if (haveCopy && scaled_.size() == target.size()) {
                painter.drawImage(target.topLeft(), scaled_);
            } else if (static_cast<qint64>(source->width()) * source->height() <= kScaleHereMaxPixels) {
                const imaging::ContainerPixels pixels(container);
                scaled_ =
                    imaging::KeepSecure(source->scaled(target.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
                scaledKey_ = key;
                painter.drawImage(target.topLeft(), scaled_);
            } else {
                // A large picture is scaled on the pool; until then the copy at hand (or the
                // picture itself) is stretched, which costs this thread a few milliseconds.
                painter.setRenderHint(QPainter::SmoothPixmapTransform, haveCopy);
                painter.drawImage(QRectF(target), haveCopy ? scaled_ : *source);
                painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
                pipeline_->RequestScaled(*source, target.size(), container);
            }
        } else {
            // Enlarging: only the part inside the window is stretched, so a 5000 % zoom stays cheap.
            const QRect visible = target.intersected(rect());
            if (!visible.isEmpty() && place.width > 0 && place.height > 0) {
                const double sx = static_cast<double>(source->width()) / place.width;
                const double sy = static_cast<double>(source->height()) / place.height;
                const QRectF from((visible.left() - target.left()) * sx, (visible.top() - target.top()) * sy,
                                  visible.width() * sx, visible.height() * sy);
                painter.drawImage(QRectF(visible), *source, from);
            }
        }
    }
    if (Locked() && !PaintSource()) {
        const Rect box = PadlockRect(ClientSize());
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(box.left, box.top);
        painter.scale((box.right - box.left) / 32.0, (box.bottom - box.top) / 32.0);
        imaging::DrawPadlock(painter, false);
        painter.restore();
    }
    PaintOverlays(painter);
}

void ViewerWindow::PaintOverlays(QPainter& painter)
{
    const std::uint64_t now = NowMs();
    painter.save();
    // Once a command's notice is over, the lock screen's line is back under the padlock.
    const bool lockLine = !NoticeVisible(notice_, now) && Locked() && !PaintSource();
    if (NoticeVisible(notice_, now) || lockLine) {
        QFont font = painter.font();
        font.setBold(true);
        font.setPointSize(14);
        painter.setFont(font);
        const Rect box = NoticeRect(ClientSize());
        const QRect area(QPoint(box.left, box.top), QPoint(box.right - 1, box.bottom - 1));
        const QString text = QString::fromStdString(lockLine ? shown_->failure : notice_.text);
        const int flags = Qt::AlignCenter | Qt::TextWordWrap;
        painter.setPen(Qt::black);
        painter.drawText(area.translated(1, 1), flags, text);
        painter.setPen(Qt::white);
        painter.drawText(area, flags, text);
    }
    if (ZoomStatusVisible(zoomStatus_, now)) {
        QFont font = QWidget::font();
        font.setPointSize(9);
        painter.setFont(font);
        const QFontMetrics metrics(font);
        const QString text = QString::fromStdString(zoomStatus_.text);
        const Point origin = ZoomStatusOrigin(ClientSize(), {metrics.horizontalAdvance(text), metrics.height()});
        painter.setPen(Qt::black);
        painter.drawText(origin.x + 1, origin.y + 1 + metrics.ascent(), text);
        painter.setPen(Qt::white);
        painter.drawText(origin.x, origin.y + metrics.ascent(), text);
    }
    painter.restore();
}

void ViewerWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (detached_) return;
    viewer::ResizeToWindow(zoom_, SourceSize(), ScreenSize(), ClientSize(), Scaling());
    update();
}

void ViewerWindow::keyPressEvent(QKeyEvent* event)
{
    if (detached_) return;
    const auto modifiers = static_cast<Modifiers>(event->modifiers().toInt());
    const auto held = static_cast<Modifiers>(QGuiApplication::queryKeyboardModifiers().toInt()) | modifiers;
    const KeyAction action =
        CommandForKey(MainRowKey(*event), modifiers, (event->modifiers() & Qt::KeypadModifier) != 0, held);
    if (action.command == ViewerCommand::None) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    switch (action.needs) {
    case Precondition::ShownFile:
    case Precondition::SingleFile:
        if (currentPath_.empty()) return;
        break;
    case Precondition::PlayingAnimation:
        if (!player_.playing() || !player_.animated()) return;
        break;
    case Precondition::ListNotEmpty:
        if (!gallery_ || session_.Model().Count() == 0) return;
        break;
    case Precondition::None: break;
    }

    switch (action.command) {
    case ViewerCommand::Rename: RenameCommand(); break;
    case ViewerCommand::CopyToChosenSubfolder: CopyToChosenSubfolder(); break;
    case ViewerCommand::CopyToNumberedSubfolder:
        CopyToSubfolder(currentPath_, std::to_string(action.argument), true);
        break;
    case ViewerCommand::ClipboardCopy: ClipboardCommand(false); break;
    case ViewerCommand::ClipboardCut: ClipboardCommand(true); break;
    case ViewerCommand::ToggleSpeed: ToggleSpeed(); break;
    case ViewerCommand::Reload: Refresh(); break;
    case ViewerCommand::ForgetPassword: ForgetPassword(); break;
    case ViewerCommand::Rotate: RotateCommand(); break;
    case ViewerCommand::Encrypt: CryptCommand(true); break;
    case ViewerCommand::Decrypt: CryptCommand(false); break;
    case ViewerCommand::TogglePause: TogglePauseCommand(); break;
    case ViewerCommand::BackToGallery: EnterCommand(); break;
    case ViewerCommand::BackOrQuit: EscapeCommand(); break;
    case ViewerCommand::Delete: DeleteCommand(); break;
    case ViewerCommand::StepFile: StepFile(action.argument > 0, true); break;
    case ViewerCommand::None: break;
    }
    if (action.repaint && !detached_) update();
}

void ViewerWindow::RenameCommand()
{
    // A picture decoded while the dialog is open may change the shown file; this one is renamed.
    const std::string path = currentPath_;
    std::vector<std::string> renamedTo;
    if (!browse::RenameOneFile(path, session_.dialogs(), renamedTo, container::NameChangeKeyOf(session_.Crypto())))
        return;
    const std::string& newPath = renamedTo.front();
    if (gallery_) session_.Model().SyncToFile(newPath, true);
    LoadImage(newPath);
    ShowNotice("Renamed", kNoticeMs);
}

void ViewerWindow::CopyToChosenSubfolder()
{
    const std::string path = currentPath_;
    const std::optional<std::string> name = session_.dialogs().SelectSubfolder(FolderOf(path));
    if (!name || name->empty()) return;
    CopyToSubfolder(path, *name, false);
}

void ViewerWindow::CopyToSubfolder(const std::string& path, const std::string& name, bool create)
{
    const Result<std::string> copied = browse::CopyIntoFolder(path, FolderOf(path) + name + "/", create,
                                                              container::NameChangeKeyOf(session_.Crypto()));
    if (!copied) {
        std::string text = "Copy failed";
        if (container::IsRefusedNameChange(copied.error()))
            text += "\n\n" + browse::RefusedNameChangeText(path, "copied", copied.error());
        session_.dialogs().ShowMessage("Error", text, MessageIcon::Error, MessageButtons::Ok);
        return;
    }
    ShowNotice("Copied to " + name, kNoticeMs);
}

void ViewerWindow::ClipboardCommand(bool cut)
{
    if (!gallery_) return;
    session_.Model().SelectFile(currentPath_);
    gallery_->CopySelectedToClipboard(cut);
}

void ViewerWindow::ToggleSpeed()
{
    if (player_.Speed() == 0.5) {
        player_.setSpeed(1.0);
        ShowNotice("Fast", kNoticeMs);
    } else {
        player_.setSpeed(0.5);
        ShowNotice("Slow", kNoticeMs);
    }
}

void ViewerWindow::ForgetPassword()
{
    session_.Crypto().ClearPassword();
    session_.Crypto().EnsurePassword(false);
}

void ViewerWindow::PasswordForgotten()
{
    if (shown_ && shown_->encrypted) {
        // The decrypted picture goes at once, and the container shows what it shows to one
        // without the password.
        auto locked = std::make_shared<DecodedPicture>();
        locked->path = shown_->path;
        locked->stamp = shown_->stamp;
        locked->encrypted = true;
        locked->passwordGeneration = session_.Crypto().PasswordGeneration();
        locked->fileNamePW = shown_->fileNamePW;
        locked->failure = kLockedNoPassword;
        locked->locked = true;
        imaging::WipePixels(scaled_);
        ShowPicture(std::move(locked));
    }
    // Pictures decrypted under the old password are let go (and wiped), decodes under way dropped.
    if (pipeline_) pipeline_->Forget();
    if (gallery_) gallery_->PasswordForgotten();
}

void ViewerWindow::RotateCommand()
{
    std::string path = currentPath_;
    if (container::IsEncryptedFile(path)) {
        ShowStickyNotice("Encrypted files cannot be rotated");
        return;
    }
    const imaging::RotationOutcome turned = imaging::RotateImageFile90(path, +1);
    if (const std::optional<std::string> refused = browse::RotationStatus(turned)) {
        ShowStickyNotice(*refused);
        return;
    }
    if (!turned.ok()) {
        if (const std::optional<browse::BatchNotice> notice = browse::RotationNotice(turned))
            session_.dialogs().ShowMessage(notice->caption, notice->text, MessageIcon::Warning, MessageButtons::Ok);
        ShowNotice("Rotate failed", 1200);
        return;
    }
    if (gallery_) {
        session_.Model().SyncToFile(path, false);
        const std::string current = session_.Model().CurrentFileName();
        if (!current.empty()) path = current;
    }
    // The file keeps its name but not its picture.
    pipeline_->Forget();
    LoadImage(path);
    ShowNotice("Rotated", kNoticeMs);
}

void ViewerWindow::CryptCommand(bool encrypt)
{
    // The operation may let posted events run, and with them a new picture: the path is kept.
    const std::string path = currentPath_;
    // E on a container and D on a plain file have nothing to do, and say nothing.
    if (container::IsEncryptedFile(path) == encrypt) return;
    const container::CryptOutcome outcome = encrypt ? session_.Crypto().Encrypt(path) : session_.Crypto().Decrypt(path);
    const std::string& result = outcome.path;
    if (result.empty()) {
        // Refusals the user can act on (the name is taken, too long for the password, the file
        // too large) are told; a cancelled prompt and a wrong password stay silent.
        const Error& failure = outcome.error;
        if (failure.kind == ErrorKind::Exists || failure.kind == ErrorKind::Unsupported)
            session_.dialogs().ShowMessage("Warning", failure.message, MessageIcon::Warning, MessageButtons::Ok);
        return;
    }
    if (result == path) return;
    std::string next = result;
    if (gallery_) {
        session_.Model().SyncToFile(result, true);
        if (!session_.Model().CurrentFileName().empty()) next = session_.Model().CurrentFileName();
    }
    pipeline_->Forget();
    LoadImage(next);
    ShowNotice(encrypt ? "Encrypted" : "Decrypted", kNoticeMs);
}

void ViewerWindow::TogglePauseCommand()
{
    player_.TogglePause();
    ShowNotice(player_.paused() ? "Paused" : "Playing", kNoticeMs);
}

void ViewerWindow::EnterCommand()
{
    ReturnToGallery();
}

void ViewerWindow::EscapeCommand()
{
    if (GalleryMode) {
        if (!currentPath_.empty() && gallery_) session_.Model().SyncToFile(currentPath_, false);
        ReturnToGallery();
        return;
    }
    Cleanup();
    pipeline_->CancelPending();
    overlayTimer->stop();
    detached_ = true;
    Quit();
}

void ViewerWindow::DeleteCommand()
{
    const std::string path = currentPath_;
    if (session_.dialogs().ShowMessage("Confirm delete", "Delete file?\n\n" + path, MessageIcon::Question,
                                       MessageButtons::YesNo) != MessageAnswer::Yes)
        return;
    Cleanup();
    if (::unlink(path.c_str()) != 0) {
        session_.dialogs().ShowMessage("Error", "File could not be deleted.", MessageIcon::Error, MessageButtons::Ok);
        // The clean-up let go of an animation; show the file again as it was.
        LoadImage(path);
        return;
    }
    std::string next;
    if (gallery_) {
        browse::FolderModel& model = session_.Model();
        const int index = model.IndexOfFile(path);
        model.SyncToFile(path, true);
        // A culling session steps and deletes: go on with the file that took the deleted one's
        // place, or with the new last one.
        if (index >= 0) model.SetCurrentIndex(index);
        next = model.CurrentFileName();
    }
    if (next.empty()) {
        currentPath_.clear();
        still_ = QImage();
        gif_.reset();
        shown_.reset();
        pipeline_->CancelPending();
        pipeline_->Forget();
        if (gallery_) gallery_->ShowGallery();
        hide();
    } else {
        LoadImage(next);
        update();
    }
}

void ViewerWindow::StepFile(bool forward, bool openAsGallery)
{
    if (!gallery_) return;
    travelForward_ = forward;
    browse::FolderModel& model = session_.Model();
    if (forward)
        model.NextFile();
    else
        model.PrevFile();
    // An empty list has no file to show; loading an empty path would only report an error.
    const std::string current = model.CurrentFileName();
    if (current.empty()) return;
    if (openAsGallery)
        OpenFromGallery(current);
    else
        LoadImage(current);
}

void ViewerWindow::mousePressEvent(QMouseEvent* event)
{
    if (detached_) return;
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        switch (LeftPressActionFor(pos.x(), width(), Pannable())) {
        case LeftPressAction::PrevFile: StepFile(false, false); break;
        case LeftPressAction::NextFile: StepFile(true, false); break;
        case LeftPressAction::StartDrag:
            dragging_ = true;
            lastDrag_ = pos;
            setCursor(Qt::PointingHandCursor);
            break;
        case LeftPressAction::None: break;
        }
    } else if (event->button() == Qt::RightButton) {
        const RightButtonResult result = RightButtonPress(WheelToggle, session_.Options().MouseOption);
        WheelToggle = result.WheelToggle;
        if (result.notice) ShowNotice(result.notice, kNoticeMs);
        ResetZoomToFit();
    }
}

void ViewerWindow::mouseMoveEvent(QMouseEvent* event)
{
    if (!dragging_ || !Pannable() || detached_) return;
    const QPoint pos = event->position().toPoint();
    PanBy(zoom_, pos.x() - lastDrag_.x(), pos.y() - lastDrag_.y(), SourceSize(), ClientSize());
    lastDrag_ = pos;
    update();
}

void ViewerWindow::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return;
    dragging_ = false;
    unsetCursor();
}

void ViewerWindow::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (detached_ || event->button() != Qt::LeftButton) return;
    ReturnToGallery();
}

void ViewerWindow::wheelEvent(QWheelEvent* event)
{
    event->accept();
    if (detached_) return;
    const int notches = wheel_.Add(event->angleDelta().y(), HoldsCtrlOrShift(event->modifiers()));
    for (int i = 0; i < std::abs(notches); ++i)
        WheelNotch(notches > 0 ? kWheelNotch : -kWheelNotch, event->modifiers(), event->position().toPoint());
}

void ViewerWindow::WheelNotch(int delta, Qt::KeyboardModifiers modifiers, QPoint position)
{
    WheelInput input;
    input.delta = delta;
    input.modifierHeld = HoldsCtrlOrShift(modifiers);
    input.WheelToggle = WheelToggle;
    input.MouseOption = session_.Options().MouseOption;
    input.MouseRevert = session_.Options().MouseRevert;
    input.hasImage = PaintSource() != nullptr || (player_.width() > 0 && player_.height() > 0);
    const WheelAction action = WheelActionFor(input);
    switch (action) {
    case WheelAction::ZoomIn:
    case WheelAction::ZoomOut:
        WheelZoom(zoom_, action == WheelAction::ZoomIn ? ZoomDirection::In : ZoomDirection::Out,
                  {position.x(), position.y()}, SourceSize(), ClientSize());
        update();
        ShowZoomStatus();
        break;
    case WheelAction::NextFile:
    case WheelAction::PrevFile: StepFile(action == WheelAction::NextFile, false); break;
    case WheelAction::None: break;
    }
}

}  // namespace quillix::viewer
