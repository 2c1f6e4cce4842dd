#pragma once

#include <string>

namespace quillix::viewer {

// The few actions of the gallery window the viewer triggers; the folder model both step through
// is the session's.
class GalleryLink {
public:
    virtual ~GalleryLink() = default;
    // Shows the gallery window (the viewer hides itself).
    virtual void ShowGallery() = 0;
    // Puts the selected files on the clipboard, for moving when `cut`.
    virtual void CopySelectedToClipboard(bool cut) = 0;
    // The password was forgotten: no tile may show a decrypted picture any more.
    virtual void PasswordForgotten() {}
};

}  // namespace quillix::viewer
