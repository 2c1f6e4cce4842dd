#pragma once

#include "common/wheel_notches.h"
#include "imaging/gif_animation.h"
#include "imaging/gif_codec.h"
#include "imaging/webp_player.h"
#include "session/session.h"
#include "viewer/overlays.h"
#include "viewer/picture_pipeline.h"
#include "viewer/zoom_math.h"

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QTimer;

namespace quillix::viewer {

class GalleryLink;

// What the viewer takes from the desktop around it; tests replace it.
struct ViewerEnvironment {
    // The screen the fit is measured on; the primary screen when empty.
    std::function<Size()> screenSize;
    // Ends the program; QCoreApplication::exit when empty.
    std::function<void(int exitCode)> quit;
};

// The viewer window: one picture centred on black, every command a key or a mouse action. The
// settings, the listed files, the password of the run and the pool are the session's; the window
// holds what it shows: the picture, the WebP player, the zoom and the notices. Pictures are decoded
// on the session's pool; the window keeps painting the shown picture and its notices until the
// next one is ready.
class ViewerWindow : public QWidget {
    Q_OBJECT

public:
    explicit ViewerWindow(session::Session& session, ViewerEnvironment environment = {});
    ~ViewerWindow() override;

    void setGallery(GalleryLink* gallery) { gallery_ = gallery; }

    // Start-up: `path` names a picture to show (standalone), else the caller opens the gallery.
    void StartStandalone(const std::string& path);
    void StartGalleryMode() { GalleryMode = true; }

    // How the gallery opens a file (double click, Enter, "Open Image"): a container asks for the
    // password first while there is none, and shows its lock screen when that is cancelled.
    void OpenAsked(const std::string& path);
    // How the gallery opens a file, and how a key step lands on one: nothing is asked.
    void OpenFromGallery(const std::string& path);
    void ReturnToGallery();

    // Asks for `path`; it is shown, or its failure reported, once decoded.
    void LoadImage(const std::string& path);
    // A picture is asked for and not shown yet.
    bool LoadPending() const { return pipeline_->Pending(); }
    void Cleanup();
    void Refresh();

    void ShowZoomStatus();
    void ShowNotice(const std::string& text, int milliseconds);
    void ShowStickyNotice(const std::string& text);

    imaging::WebPPlayer& Player() { return player_; }
    PicturePipeline& Pipeline() { return *pipeline_; }

    // What tests and the paint read.
    const std::string& CurrentPath() const { return currentPath_; }
    bool GalleryMode = false;
    bool WebPMode = false;
    bool GifActive = false;
    bool WheelToggle = false;
    const ZoomState& zoomState() const { return zoom_; }
    // The drawn picture is wider or taller than the window, so a drag moves it.
    bool Pannable() const;
    bool dragging() const { return dragging_; }
    const Overlay& notice() const { return notice_; }
    const Overlay& zoomStatus() const { return zoomStatus_; }
    // A container that another password would open is shown: the padlock and what to do.
    bool Locked() const { return shown_ && shown_->locked; }
    // The picture a paint draws; null when there is none.
    const QImage* PaintSource() const;
    int gifFrame() const;

    QTimer* overlayTimer = nullptr;
    QTimer* gifRepaintTimer = nullptr;
    QTimer* refreshTimer = nullptr;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void LoadImage(const std::string& path, bool reload);
    void ShowPicture(std::shared_ptr<const DecodedPicture> decoded);
    // The neighbour of `path` in the direction of travel, to decode ahead; empty at an end.
    std::string NextInTravel(const std::string& path) const;
    PictureSettings CurrentPictureSettings() const;
    void ShowLoadFailure(const std::string& message, bool locked = false);
    void StartGif(imaging::GifAnimation animation, int passLimit, int speedPercent);
    void ScheduleGifFrame();
    void ResetZoomToFit();
    Size SourceSize() const;
    Size ScreenSize() const;
    Size ClientSize() const;
    ScalingMode Scaling() const;
    void PaintOverlays(class QPainter& painter);
    void overlayTick();
    void gifRepaintTick();
    void reloadAfterPassword();
    void Quit();

    // Commands.
    void RenameCommand();
    void CopyToSubfolder(const std::string& path, const std::string& name, bool create);
    void CopyToChosenSubfolder();
    void ClipboardCommand(bool cut);
    void ToggleSpeed();
    void ForgetPassword();
    // The password is gone (FileCrypto's hook): the decrypted picture and those kept with it.
    void PasswordForgotten();
    void RotateCommand();
    void CryptCommand(bool encrypt);
    void TogglePauseCommand();
    void EnterCommand();
    void EscapeCommand();
    void DeleteCommand();
    // One step through the gallery's list and the file it lands on shown: a key step opens it as
    // the gallery does (and so enters gallery mode), an edge click or the wheel only loads it.
    void StepFile(bool forward, bool openAsGallery);
    void WheelNotch(int delta, Qt::KeyboardModifiers modifiers, QPoint position);

    ViewerEnvironment environment_;
    session::Session& session_;
    imaging::WebPPlayer player_;
    GalleryLink* gallery_ = nullptr;
    std::unique_ptr<PicturePipeline> pipeline_;

    std::string currentPath_;
    // The decoded file on screen; the still picture, GIF and fitted copy share its pixels.
    std::shared_ptr<const DecodedPicture> shown_;
    // Steps forward decode the next file ahead, steps back the previous one.
    bool travelForward_ = true;
    // Tells a notice given after a request (a command's "Rotated") from one the new picture clears.
    std::uint64_t noticeSerial_ = 0;
    std::uint64_t noticeSerialAtRequest_ = 0;
    bool reloadKeepsNotice_ = false;
    QImage still_;
    struct GifShow {
        imaging::GifAnimation animation;
        imaging::GifPlayback playback;
    };
    std::optional<GifShow> gif_;
    QTimer* gifFrameTimer_ = nullptr;

    ZoomState zoom_;
    bool dragging_ = false;
    QPoint lastDrag_;
    WheelNotches wheel_;
    Overlay notice_;
    Overlay zoomStatus_;
    bool detached_ = false;

    // The last downscaled copy of the source, so that repaints at one zoom scale only once.
    QImage scaled_;
    qint64 scaledKey_ = 0;
};

// Milliseconds of a monotonic clock, the time base of every overlay deadline.
std::uint64_t NowMs();

}  // namespace quillix::viewer
