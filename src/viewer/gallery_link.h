#pragma once

#include <string>

namespace quillix::browse {
class FolderModel;
}

namespace quillix::viewer {

// What the viewer needs of the gallery window: its folder model, through which every step goes,
// and the few window actions the viewer triggers.
class GalleryLink {
public:
    virtual ~GalleryLink() = default;
    virtual browse::FolderModel& Model() = 0;
    // Shows the gallery window (the viewer hides itself).
    virtual void ShowGallery() = 0;
    // Puts the selected files on the clipboard, for moving when `cut`.
    virtual void CopySelectedToClipboard(bool cut) = 0;
    // The password was forgotten: no tile may show a decrypted picture any more.
    virtual void PasswordForgotten() {}
};

}  // namespace quillix::viewer
