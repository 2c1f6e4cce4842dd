#pragma once

#include <QFont>
#include <QIcon>
#include <QImage>

// The pictures of the program's own dialogs and its application icon, drawn rather than loaded so
// that they look alike on every desktop.
namespace quillix::platform {

// The application icon at `size` × `size` pixels: a picture in a navy frame, locked by a padlock.
QImage AppIconImage(int size);
// Every size the desktop asks for.
QIcon AppIcon();
// The PNG bytes of AppIconImage (`size`).
QByteArray AppIconPng(int size);

// `width` × `height` covered with copies of `source` from the top left; an empty picture when the
// source is empty.
QImage TileImage(const QImage& source, int width, int height);

// The glyphs of the dialogs' "&Apply" and "&Cancel" buttons.
QIcon ApplyGlyph();
QIcon CancelGlyph();

// A closed padlock, `size` pixels square, on white.
QImage PadlockPicture(int size);
// A small gear standing for the tools the program is built with.
QImage ToolsLogo(int size);

// "Tahoma" 8 pt where it is installed, else the desktop's sans font at 8 pt: the dialogs are laid
// out for it.
QFont DialogFont();

}  // namespace quillix::platform
