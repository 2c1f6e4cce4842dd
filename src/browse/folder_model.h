#pragma once

#include "browse/folder_scan.h"
#include "common/result.h"
#include "settings/app_options.h"

#include <string>
#include <string_view>
#include <vector>

namespace quillix::browse {

inline constexpr int kSortModeCount = 5;

struct SortModeLabels {
    const char* shortLabel;  // status bar panel 5
    const char* longLabel;   // hint of the sort button
};

// The name of the picture a file holds: a container's ("$" + name) without its "$", any other as
// it is. The name orders sort by it.
std::string_view PictureNameOf(std::string_view fileName);

// The labels of a sort mode; empty texts for a mode outside 0..4.
SortModeLabels SortModeLabelsOf(int mode);

// The mode the sort button steps to: (mode + 1) mod 5, kept in 0..4 for any input.
int NextSortMode(int mode);

// The folder that "folder up" goes to from the folder box text, ending in "/"; "/" stays "/".
// Empty for an empty text.
std::string ParentFolder(const std::string& folderBox);

// What the model asks of the gallery window. Every call has a do-nothing default.
class FolderModelListener {
public:
    virtual ~FolderModelListener() = default;
    // FileList was rebuilt: drop the thumbnails, make one empty slot per entry, restart the
    // background thumbnail making.
    virtual void listRebuilt(int /*count*/) {}
    virtual void layoutChanged() {}
    virtual void repaintRequested() {}
    // Scroll the tile into view unless it is visible already.
    virtual void ensureVisible(int /*index*/) {}
    virtual void statusChanged() {}
    virtual void folderBoxChanged(const std::string& /*text*/) {}
    // Show the mode's labels, push SORT_MODE and save the settings.
    virtual void sortModeChanged(int /*mode*/) {}
    // Push LastDir (no trailing "/") and save the settings.
    virtual void lastDirChosen(const std::string& /*folder*/) {}
    virtual bool galleryVisible() const { return false; }
};

// The folder model: which files are listed, in which order, the current tile and the selection.
// FileList and the options belong to the session and must outlive the model. Indices are 0-based
// positions in FileList; -1 means none. A rebuild keeps the current tile, the anchor and the
// selection on the same files, not on the same positions; every read here still checks the
// range, since the list may be filled by other means.
class FolderModel {
public:
    FolderModel(FileList& fileList, settings::AppOptions& options, FolderModelListener* listener = nullptr);

    // The window that shows the model; nullptr for none, as when that window goes.
    void SetListener(FolderModelListener* listener);

    // Rebuilds FileList from `folder`, sorted by the options' SortMode. An empty folder text
    // empties the list. A folder that cannot be read leaves the list empty and returns the Io
    // error. Within the loaded folder the current tile, the anchor and the selection (in its
    // order) stay on their files, wherever these now stand; files that are gone drop out, and a
    // current or anchor file that is gone leaves -1. Another folder starts with no current tile,
    // no anchor and nothing selected.
    Result<void> LoadFolder(const std::string& folder);

    // <0, 0 or >0 as entry a sorts before, with or after entry b in the current sort mode.
    int CompareForSort(int a, int b) const;

    // Makes entry i (clamped) current and remembers its path; -1 when the list is empty.
    void FocusTile(int i);
    // Makes the remembered FocusPath current again when it is listed, and forgets it then.
    void ApplyFocusPath();
    // Reloads the folder box's folder, the current file scrolled into view when it is still
    // listed; the selection stays on its files.
    Result<void> RefreshGallery();

    // The folder browser's start folder: the folder box, else the current directory.
    std::string BrowseStartFolder() const;
    // The folder browser returned `folder` (empty when cancelled). Another folder than the loaded
    // one leaves nothing current or selected.
    Result<void> ChooseFolder(const std::string& folder);
    // Folder up. Nothing (and success) when the folder box is empty; an Io error when the parent
    // is not a folder.
    Result<void> FolderUp();
    // The sort button: next mode, then the current file and the selection restored by path.
    // `viewerPath` is the viewer's shown file, used when no tile is current.
    Result<void> CycleSortMode(const std::string& viewerPath);

    // Viewer-facing operations; paths compare exactly.
    int IndexOfFile(const std::string& path) const;
    std::string CurrentFileName() const;
    void SetCurrentIndex(int i);
    // One step without wrapping around, made current through SetCurrentIndex (which clamps);
    // they return the stepped index before that clamp, -1 for an empty list. Callers read
    // CurrentFileName, not the result: from -1, PrevFile answers -1 with entry 0 current.
    int NextFile();
    int PrevFile();
    void SyncToFile(const std::string& path, bool reload);
    void SelectFile(const std::string& path);
    void OpenFolder(const std::string& folder);

    const FileList& Files() const { return fileList_; }
    int Count() const { return static_cast<int>(fileList_.size()); }
    int SortMode() const { return options_.SortMode; }

    // The current tile, -1 for none.
    int CurrentIndex() const { return currentIndex_; }
    // Where a Shift range starts, -1 for none.
    int AnchorIndex() const { return anchorIndex_; }
    // No index twice, in the order of choosing, which is the order the file commands process
    // files in.
    const std::vector<int>& SelectedIndices() const { return selected_; }
    bool IsSelected(int i) const;
    // The file the gallery makes current when it is shown next; empty for none.
    const std::string& FocusPath() const { return focusPath_; }
    // The text of the folder box, and the folder the list was last loaded from, as given and
    // ending in "/".
    const std::string& FolderBox() const { return folderBox_; }
    const std::string& LoadedFolder() const { return loadedFolder_; }
    const std::string& LoadedFolderWithSeparator() const { return loadedFolderWithSeparator_; }

    // Entry i becomes current (-1: none), without scrolling to it, remembering it or touching the
    // selection.
    void MakeCurrent(int i);
    // Shift ranges start at entry i from now on.
    void AnchorAt(int i);
    // The selection becomes `indices` in their order, a repeated index kept once.
    void Select(std::vector<int> indices);
    // Appends i unless it is selected already.
    void AddToSelection(int i);
    void RemoveFromSelection(int i);
    // Entry i becomes the only selected one and the anchor.
    void ChooseOnly(int i);
    // Nothing selected; the anchor and the current tile stay.
    void ClearSelection();
    // The gallery makes `path` current when it is shown next (ApplyFocusPath); empty forgets it.
    void FocusOnShow(const std::string& path);
    // Shows `text` in the folder box; nothing is loaded.
    void SetFolderBox(const std::string& text);

private:
    // What the user chose, by path, across a rebuild of the list.
    struct ChosenFiles {
        std::vector<std::string> selected;
        std::string current;
        std::string anchor;
    };
    ChosenFiles chosenFiles() const;
    void reapplyChosen(const ChosenFiles& chosen);
    bool inRange(int i) const { return i >= 0 && i < Count(); }

    FileList& fileList_;
    settings::AppOptions& options_;
    FolderModelListener* listener_;
    int currentIndex_ = -1;
    int anchorIndex_ = -1;
    std::vector<int> selected_;
    std::string loadedFolder_;
    std::string loadedFolderWithSeparator_;
    std::string focusPath_;
    std::string folderBox_;
};

}  // namespace quillix::browse
