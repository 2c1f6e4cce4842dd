#pragma once

#include <QImage>

#include <string>

// One gallery thumbnail, made from a file without any window: safe to call on a worker thread.
namespace quillix::gallery {

enum class ThumbnailKind {
    Picture,      // the picture itself, fitted to the well
    Placeholder,  // an encrypted file that cannot be shown: no password, a wrong one, or no picture inside
    None,         // a plain file that cannot be read or decoded: the tile shows an empty well
};

struct Thumbnail {
    ThumbnailKind kind = ThumbnailKind::None;
    QImage image;  // null for None
};

struct ThumbnailRequest {
    std::string path;
    // The password of the run at the moment the job starts; empty when none was entered.
    std::string password;
    bool fileNamePW = true;
    int tileSize = 128;
};

// The thumbnail of a listed file, (T - 24) pixels on its longer side. Encrypted files ("$" names)
// are decrypted in memory only and decoded by the extension of their name; animated GIF and WebP
// files give their first frame. Never throws.
Thumbnail MakeThumbnail(const ThumbnailRequest& request);

// The placeholder at its size for tiles of edge `tileSize`.
QImage PlaceholderThumbnail(int tileSize);

}  // namespace quillix::gallery
