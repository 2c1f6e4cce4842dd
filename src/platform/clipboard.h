#pragma once

#include <string>
#include <vector>

class QMimeData;

// File lists on the clipboard, in the formats file managers exchange them.
namespace quillix::platform {

// The files as a URL list (text/uri-list) in the given order, plus "x-special/gnome-copied-files"
// ("copy" or "cut", then one URL per line). A cut also carries "application/x-kde-cutselection"
// = "1" and our own "application/x-quillix-cut" = one byte 1. The caller owns the result.
QMimeData* FileListMimeData(const std::vector<std::string>& paths, bool cut);

// Puts FileListMimeData on the system clipboard; true when the clipboard now offers a URL list.
bool PutFilesOnClipboard(const std::vector<std::string>& paths, bool cut);

struct ClipboardFiles {
    std::vector<std::string> paths;
    bool cut = false;
};

// The local files of a URL list (other URLs are skipped); without one, of GNOME's
// "x-special/gnome-copied-files", or of the plain text older Nautilus versions offer
// ("x-special/nautilus-clipboard", "copy" or "cut", then the URLs). Only our own format marks a cut: a
// cut made in another program is pasted as a copy, so the other program's files stay where it
// expects them.
ClipboardFiles FilesFromMimeData(const QMimeData* data);

// FilesFromMimeData of the system clipboard.
ClipboardFiles ReadFilesFromClipboard();

// The status line after a copy or cut: "Copied N files" (always "files"), or "Copy failed".
std::string CopyStatusText(int count, bool ok);

}  // namespace quillix::platform
