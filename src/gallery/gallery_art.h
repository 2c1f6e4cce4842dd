#pragma once

#include <QIcon>
#include <QImage>

namespace quillix::gallery {

// The pictures the gallery draws for itself. They are drawn rather than taken from the icon theme
// so that the tool band looks whole and alike on a bare X server and on every desktop.
enum class GalleryIcon {
    OpenImage,
    Refresh,
    Exit,
    Cut,
    Copy,
    Paste,
    Delete,
    RotateCcw,
    RotateCw,
    Encrypt,
    Decrypt,
    Properties,
    ScaleToFit,
    ScaleToWidth,
    ScaleFullSize,
    Sort,
    ChangeFolder,
    FolderUp,
    Settings,
    About,
    Clipboard,
};

QIcon IconFor(GalleryIcon icon);

// The 56 × 48 marble tile behind the tool band (and the settings and about boxes). The same
// picture every time: it is generated from a fixed seed.
QImage MarbleTile();

// The 100 × 100 picture that stands for an encrypted file whose thumbnail cannot be made.
QImage PlaceholderPicture();

}  // namespace quillix::gallery
