#pragma once

#include <QImage>

// The pixels of a container's picture, kept in guarded memory (crypto/secure_memory.h): locked,
// and wiped when the last QImage holding them goes.
namespace quillix::imaging {

// An uninitialised picture over guarded memory; null when memory runs out. Qt copies such a
// picture into ordinary memory whenever it converts it or writes to it while it is shared: keep
// one holder while writing, and convert by hand.
QImage NewSecurePicture(int width, int height, QImage::Format format);

// While one lives on a thread, the pictures NewPicture and CopyPicture make on that thread are
// secure ones. The decoders run under one for the bytes of a container. `active` false makes a
// scope that changes nothing, for code that decodes either kind.
class ContainerPixels {
public:
    explicit ContainerPixels(bool active = true);
    ~ContainerPixels();
    ContainerPixels(const ContainerPixels&) = delete;
    ContainerPixels& operator=(const ContainerPixels&) = delete;

    // Whether a scope is active on this thread.
    static bool Active();

private:
    bool active_;
};

// A detached copy of `image`: in guarded memory under ContainerPixels, else an ordinary copy().
QImage CopyPicture(const QImage& image);

// For a picture Qt made (a scaled copy, say): under ContainerPixels, a copy in guarded memory, and
// `image`'s own pixels are wiped when it held the only reference; otherwise `image` itself.
QImage KeepSecure(QImage image);

}  // namespace quillix::imaging
