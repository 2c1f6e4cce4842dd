#pragma once

#include "gallery/thumbnail_store.h"

#include <QWidget>

#include <functional>

namespace quillix::browse {
class FolderModel;
}

namespace quillix::gallery {

class Selection;
class TilePointer;
struct TileLayout;

// The tile canvas: as tall as all rows, inside the scroll area. It paints the tiles from the
// layout, the selection and the thumbnail store, and repaints the tiles the store tells it of;
// its mouse events go to the window.
class TileCanvas : public QWidget, public ThumbnailStoreListener {
public:
    struct Sources {
        const TileLayout& layout;
        const browse::FolderModel& model;
        const Selection& selection;
        const TilePointer& pointer;
    };
    struct MouseHandlers {
        std::function<void(QMouseEvent*)> press, move, release, doubleClick;
    };

    TileCanvas(Sources sources, MouseHandlers mouse);

    // The store painted from; set once it is made.
    void setThumbnails(const ThumbnailStore* thumbnails) { thumbnails_ = thumbnails; }
    // A blank canvas: no picture and no file name shows (the window is locked).
    void setBlank(bool blank);

    // ThumbnailStoreListener
    void thumbnailChanged(int index) override;
    void thumbnailsChanged() override { update(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override { mouse_.press(event); }
    void mouseMoveEvent(QMouseEvent* event) override { mouse_.move(event); }
    void mouseReleaseEvent(QMouseEvent* event) override { mouse_.release(event); }
    void mouseDoubleClickEvent(QMouseEvent* event) override { mouse_.doubleClick(event); }

private:
    Sources sources_;
    MouseHandlers mouse_;
    const ThumbnailStore* thumbnails_ = nullptr;
    bool blank_ = false;
};

}  // namespace quillix::gallery
