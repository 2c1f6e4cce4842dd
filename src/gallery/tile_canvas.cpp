#include "gallery/tile_canvas.h"

#include "browse/folder_model.h"
#include "common/paths.h"
#include "gallery/selection.h"
#include "gallery/tile_layout.h"
#include "gallery/tile_painting.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPaintEvent>
#include <QPainter>

namespace quillix::gallery {
namespace {

// "Tahoma" 8 pt where it is installed, else the desktop's own sans font at 8 pt.
QFont TileFont()
{
    static const QFont font = [] {
        QFont chosen = QFontDatabase::families().contains(QStringLiteral("Tahoma")) ? QFont(QStringLiteral("Tahoma"))
                                                                                    : QApplication::font();
        chosen.setPointSize(8);
        return chosen;
    }();
    return font;
}

QRect ToQRect(const Rect& r)
{
    return QRect(r.left, r.top, r.width(), r.height());
}

void DrawRaisedOrSunken(QPainter& painter, const QRect& r, const QColor& topLeft, const QColor& bottomRight)
{
    const int left = r.left(), top = r.top(), right = r.left() + r.width(), bottom = r.top() + r.height();
    painter.setPen(topLeft);
    painter.drawLine(left, bottom - 1, left, top);
    painter.drawLine(left, top, right - 1, top);
    painter.setPen(bottomRight);
    painter.drawLine(right - 1, top, right - 1, bottom - 1);
    painter.drawLine(right - 1, bottom - 1, left, bottom - 1);
}

void DrawTileFrame(QPainter& painter, const QRect& r, bool selected, const QPalette& palette)
{
    if (selected) {
        painter.fillRect(r, QColor(0, 0, 255));
        return;
    }
    painter.fillRect(r, QColor(245, 245, 245));
    DrawRaisedOrSunken(painter, r, Qt::white, palette.color(QPalette::Dark));
}

void DrawTileWell(QPainter& painter, const QRect& r, bool current, const QPalette& palette)
{
    if (current) {
        painter.fillRect(r, QColor(190, 215, 255));
        painter.setPen(QColor(0, 0, 255));
        painter.drawRect(r.adjusted(0, 0, -1, -1));
        return;
    }
    painter.fillRect(r, QColor(235, 235, 235));
    DrawRaisedOrSunken(painter, r, palette.color(QPalette::Dark), Qt::white);
}

void DrawSelectionRect(QPainter& painter, const Rect& band)
{
    if (band.width() <= 0 || band.height() <= 0) return;
    const QRect r = ToQRect(band);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QBrush(QColor(180, 200, 255), Qt::BDiagPattern));
    painter.drawRect(r);
    painter.setBrush(Qt::NoBrush);
    QPen dotted(QColor(0, 0, 255));
    dotted.setStyle(Qt::DotLine);
    painter.setPen(dotted);
    painter.drawRect(r.adjusted(0, 0, -1, -1));
}

}  // namespace

TileCanvas::TileCanvas(Sources sources, MouseHandlers mouse)
    : QWidget(nullptr), sources_(sources), mouse_(std::move(mouse))
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
}

void TileCanvas::setBlank(bool blank)
{
    blank_ = blank;
    update();
}

void TileCanvas::thumbnailChanged(int index)
{
    update(ToQRect(TileRect(sources_.layout, index)));
}

void TileCanvas::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QRect clip = event->rect();
    const QPalette& colours = palette();
    painter.fillRect(clip, colours.color(QPalette::Button));
    if (blank_) return;
    const TileLayout& layout = sources_.layout;
    const RowSpan rows = RowsTouched(layout, clip.top(), clip.top() + clip.height());
    if (rows.empty()) return;

    painter.setFont(TileFont());
    const QFontMetrics metrics(painter.font());
    const int nameOffset = NameTextOffset(metrics.boundingRect(QLatin1Char('W')).height());
    const auto measure = [&metrics](const std::string& text) {
        return metrics.horizontalAdvance(QString::fromStdString(text));
    };
    const browse::FileList& files = sources_.model.Files();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    for (int row = rows.first; row <= rows.last; ++row) {
        for (int column = 0; column < layout.Columns; ++column) {
            const int i = row * layout.Columns + column;
            if (i >= layout.Count || i >= static_cast<int>(files.size())) break;
            const QRect tile = ToQRect(TileRect(layout, i));
            DrawTileFrame(painter, tile, sources_.selection.IsSelected(i), colours);
            const Rect well = WellRect(layout, i);
            DrawTileWell(painter, ToQRect(well), i == sources_.model.CurrentIndex(), colours);
            if (const QPixmap* thumbnail = thumbnails_ ? thumbnails_->At(i) : nullptr) {
                const Rect target = ThumbnailDrawRect(well, {thumbnail->width(), thumbnail->height()});
                if (target.width() > 0 && target.height() > 0) painter.drawPixmap(ToQRect(target), *thumbnail);
            }
            const QRect strip = ToQRect(NameStripRect(layout, i));
            painter.fillRect(strip, colours.color(QPalette::Button));
            painter.setPen(colours.color(QPalette::WindowText));
            const std::string name = FitNameToWidth(FileNameOf(files[static_cast<std::size_t>(i)]),
                                                    NameWidthLimit(layout.TileSize), measure);
            painter.drawText(QRect(strip.left() + kNameIndent, strip.top() + nameOffset, strip.width() - kNameIndent,
                                   strip.height() - nameOffset),
                             Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, QString::fromStdString(name));
        }
    }
    if (sources_.pointer.RubberBandActive) DrawSelectionRect(painter, sources_.pointer.RubberBandRect());
}

}  // namespace quillix::gallery
