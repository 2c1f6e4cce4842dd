#pragma once

#include "browse/folder_model.h"
#include "gallery/batch_runner.h"
#include "gallery/gallery_keys.h"
#include "gallery/gallery_settings.h"
#include "gallery/list_totals.h"
#include "gallery/selection.h"
#include "gallery/thumbnail_store.h"
#include "gallery/tile_layout.h"
#include "session/session.h"
#include "viewer/gallery_link.h"
#include "workers/window_thread_queue.h"

#include <QMainWindow>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QLineEdit;
class QScrollArea;
class QTimer;
class QToolButton;

namespace quillix::viewer {
class ViewerWindow;
}

namespace quillix::workers {
class WorkerPool;
}

namespace quillix::gallery {

class StatusPanels;
class TileCanvas;

// The gallery window: the folder's pictures as tiles with thumbnails, the selection, the tool band
// and the status bar. It shows the session's folder model and wires the parts that do the work:
// the tile layout and the selection, the thumbnail store (jobs on the session's worker pool) and
// the canvas that paints from them.
class GalleryWindow : public QMainWindow, public viewer::GalleryLink, public browse::FolderModelListener {
    Q_OBJECT

public:
    GalleryWindow(session::Session& session, viewer::ViewerWindow& viewer);
    ~GalleryWindow() override;

    // The session's folder model, which the window shows.
    browse::FolderModel& Model() { return model_; }

    // viewer::GalleryLink
    void ShowGallery() override;
    void CopySelectedToClipboard(bool cut) override;
    void PasswordForgotten() override;

    // How the program starts in gallery mode: the folder opened, the window shown, and `notice`
    // (when not empty) on the status line.
    void OpenAtStart(const std::string& folder, const std::string& notice);
    // Opens the current tile in the viewer; nothing without one, or while locked.
    void ShowImage();
    // Until the parental PIN is accepted the window shows no picture, file or folder name, and
    // makes no thumbnails; unlocking shows and makes them.
    void setLocked(bool locked);
    bool locked() const { return locked_; }
    // Closes the gallery, which ends the program.
    void ExitProgram();
    void RefreshGallery();
    void FolderUp();
    void BrowseForFolder();
    // The text of the status message panel.
    QString StatusText() const;
    // The status message of panel 2.
    const std::string& StatusMessage() const { return statusMessage_; }
    void SetStatusMessage(const std::string& text);

    // What the canvas and tests read.
    const TileLayout& Layout() const { return layout_; }
    Selection& selection() { return selection_; }
    TilePointer& pointer() { return pointer_; }
    TileCanvas* canvas() const { return canvas_; }
    QScrollArea* scrollArea() const { return scrollArea_; }
    StatusPanels* statusPanels() const { return status_; }
    QLineEdit* folderEdit() const { return folderEdit_; }
    Viewport CurrentViewport() const;
    // The thumbnails the canvas paints.
    const ThumbnailStore& thumbnails() const { return *thumbnails_; }
    // Where thumbnails run at thumbnail priority and batch file work at batch priority: the
    // program's one pool, which the session holds, unless another is set here (tests). Jobs touch
    // no widget; their results come back through the window's event queue.
    void setWorkerPool(workers::WorkerPool* pool);
    // Where the keyboard state is read ("held" modifiers); tests put their own here.
    void setHeldModifiers(std::function<Qt::KeyboardModifiers()> held) { heldModifiers_ = std::move(held); }

    // File commands.
    // F2: one file renamed, several renamed as a numbered batch; the list is rebuilt after a
    // rename and the renamed files selected.
    void RenameSelection();
    void PasteFromClipboard();
    // Asks with the "Delete files" dialog, then deletes the selected files in a batch run.
    void DeleteSelectedFiles();
    void EncryptDecryptSelection(bool encrypt);
    // Clockwise for a direction above 0.
    void RotateSelection(int direction);
    // Ctrl+Shift+P: the password forgotten and asked for again.
    void ForgetPassword();
    // Properties: what the current tile's file is, in a "Properties" box; a container is opened
    // with the run's password only, never asking for one.
    void ShowProperties();

    // Batch runs. StartBatch ignores a call while a run is active.
    void StartBatch(BatchOperation operation, std::vector<std::string> paths);
    bool BatchActive() const { return batch_ && batch_->Active(); }
    BatchOperation CurrentBatchOperation() const { return batch_ ? batch_->Operation() : BatchOperation::None; }
    // How many batch runs have finished since the window was made.
    int FinishedBatchRuns() const { return finishedRuns_; }

    // The canvas's mouse work.
    void canvasMousePress(class QMouseEvent* event);
    void canvasMouseMove(class QMouseEvent* event);
    void canvasMouseRelease(class QMouseEvent* event);
    void canvasDoubleClick(class QMouseEvent* event);

    // FolderModelListener
    void listRebuilt(int count) override;
    void layoutChanged() override;
    void repaintRequested() override;
    void ensureVisible(int index) override;
    void statusChanged() override;
    void folderBoxChanged(const std::string& text) override;
    void sortModeChanged(int mode) override;
    void lastDirChosen(const std::string& folder) override;
    bool galleryVisible() const override { return isVisible(); }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildToolBand();
    Qt::KeyboardModifiers HeldModifiers() const;
    void RunKeyCommand(const GalleryKeyAction& action, bool shift, bool ctrl);
    // The password for an encryption or decryption run over `paths`, confirmed when it is to
    // encrypt; false when the user gave none.
    bool EnsurePasswordForRun(bool encrypt, const std::vector<std::string>& paths);
    void CollectBatch();
    void ApplyBatchStep(const BatchStep& step);
    void FinishBatch();
    // Rebuilds the list of the loaded folder and selects ReselectNames.
    void ReloadAndReselect(const std::string& folder);
    void prepareToShow();
    void UpdateLayout();
    void SetTitle();
    // The panel texts: the totals from the sizes read with the list, the message, the clipboard
    // sign. Called whenever the list or the selection may have changed.
    void RefreshStatus();
    // The selection may have changed: its totals and its tiles shown anew.
    void SelectionShown();
    void clipboardChanged();
    void ShowFolderResult(const Result<void>& outcome);
    // The sort button's tool tip and the status bar's sort panel.
    void ShowSortLabels(int mode);
    void SetFitButtons();
    void FitButtonClicked(bool scaleToFit, bool fitWidth);
    void handleWheel(class QWheelEvent* event);
    void ReadTileSize();
    void SetTileSize(int tileSize);
    void RestorePlacement();
    void SavePlacement();

    // Thumbnails.
    void ResetThumbnails();
    void UpdateVisibleTiles();

    session::Session& session_;
    viewer::ViewerWindow& viewer_;
    browse::FolderModel& model_;
    Selection selection_;
    TilePointer pointer_;
    TileLayout layout_;
    WheelNotches wheel_;

    QLineEdit* folderEdit_ = nullptr;
    QToolButton* sortButton_ = nullptr;
    QToolButton* fitButton_ = nullptr;
    QToolButton* fitWidthButton_ = nullptr;
    QToolButton* fullSizeButton_ = nullptr;
    QScrollArea* scrollArea_ = nullptr;
    TileCanvas* canvas_ = nullptr;
    StatusPanels* status_ = nullptr;
    std::string statusMessage_;
    bool placementRestored_ = false;
    QRect hiddenGeometry_;  // where the window was when the viewer took over
    bool clipboardHasFiles_ = false;
    bool locked_ = false;

    ListTotals totals_;
    std::unique_ptr<ThumbnailStore> thumbnails_;
    workers::WorkerPool* pool_ = nullptr;
    std::function<Qt::KeyboardModifiers()> heldModifiers_;
    std::unique_ptr<BatchRunner> batch_;
    bool collecting_ = false;
    bool collectAgain_ = false;
    int finishedRuns_ = 0;
    // The password generation a running encryption or decryption took its copy from.
    std::uint64_t runPasswordGeneration_ = 0;
    // Results of the batch runs; declared last so that it goes first, and none reaches a window
    // whose members are being destroyed.
    workers::WindowThreadQueue fromWorkers_;
};

}  // namespace quillix::gallery
