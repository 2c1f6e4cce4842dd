#pragma once

#include "gallery/folder_model.h"
#include "viewer/gallery_link.h"

#include <QWidget>

#include <string>

class QLabel;
class QLineEdit;
class QListWidget;
class QToolButton;

namespace quillix::viewer {
class ViewerWindow;
}

namespace quillix::gallery {

// The gallery window: the folder's files, the current one, and the way into the viewer. It holds
// the viewer's file list and settings; the folder model does the work.
class GalleryWindow : public QWidget, public viewer::GalleryLink, public FolderModelListener {
    Q_OBJECT

public:
    explicit GalleryWindow(viewer::ViewerWindow& viewer);

    // viewer::GalleryLink
    FolderModel& Model() override { return model_; }
    void ShowGallery() override;
    void CopySelectedToClipboard(bool cut) override;

    // How the program starts in gallery mode: the folder opened, the window shown, and `notice`
    // (when not empty) on the status line.
    void OpenAtStart(const std::string& folder, const std::string& notice);
    // Opens the current tile in the viewer; nothing without one.
    void ShowImage();
    // The text on the status line.
    QString StatusText() const;
    // The clipboard result, until the status bar shows it.
    const std::string& StatusMessage() const { return statusMessage_; }

    // FolderModelListener
    void listRebuilt(int count) override;
    void repaintRequested() override;
    void ensureVisible(int index) override;
    void folderBoxChanged(const std::string& text) override;
    void sortModeChanged(int mode) override;
    void lastDirChosen(const std::string& folder) override;
    bool galleryVisible() const override { return isVisible(); }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void prepareToShow();
    void ShowFolderError(const Result<void>& outcome);
    // A freshly loaded list starts at its first file.
    void FocusFirstWhenNone();
    void SetFitButtons();
    void FitButtonClicked(bool scaleToFit, bool fitWidth);

    viewer::ViewerWindow& viewer_;
    FolderModel model_;
    QLineEdit* folderBox_ = nullptr;
    QToolButton* sortButton_ = nullptr;
    QToolButton* fitButton_ = nullptr;
    QToolButton* fitWidthButton_ = nullptr;
    QToolButton* fullSizeButton_ = nullptr;
    QListWidget* list_ = nullptr;
    QLabel* status_ = nullptr;
    std::string statusMessage_;
    bool syncingList_ = false;
};

}  // namespace quillix::gallery
