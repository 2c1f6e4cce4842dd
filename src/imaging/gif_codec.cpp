#include "imaging/gif_codec.h"

#include "imaging/secure_picture.h"
#include "imaging/still_decoder.h"
#include "imaging/webp_bridge.h"

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>

namespace quillix::imaging {
namespace {

// Canvas pixels summed over all frames: each frame is kept as a whole canvas, so a small file
// with a huge canvas and many frames could otherwise ask for gigabytes.
constexpr std::int64_t kMaxTotalPixels = std::int64_t{1} << 27;
constexpr int kMaxSide = 16384;

struct MemoryReader {
    std::span<const std::uint8_t> bytes;
    std::size_t offset = 0;
};

int ReadFromMemory(GifFileType* gif, GifByteType* out, int size)
{
    auto* reader = static_cast<MemoryReader*>(gif->UserData);
    const std::size_t n = std::min(static_cast<std::size_t>(std::max(size, 0)), reader->bytes.size() - reader->offset);
    std::memcpy(out, reader->bytes.data() + reader->offset, n);
    reader->offset += n;
    return static_cast<int>(n);
}

// Owns the giflib handle; release() may run any number of times.
class GifHandle {
public:
    explicit GifHandle(GifFileType* gif) : gif_(gif) {}
    ~GifHandle() { release(); }
    GifHandle(const GifHandle&) = delete;
    GifHandle& operator=(const GifHandle&) = delete;

    GifFileType* get() const { return gif_; }
    void release()
    {
        int error = 0;
        if (gif_) DGifCloseFile(gif_, &error);
        gif_ = nullptr;
    }

private:
    GifFileType* gif_;
};

Error GiflibError(int code)
{
    const char* text = GifErrorString(code);
    std::string message = std::string("GIF: ") + (text ? text : "unknown error");
    switch (code) {
    case D_GIF_ERR_READ_FAILED:
    case D_GIF_ERR_EOF_TOO_SOON: return MakeError(ErrorKind::Truncated, std::move(message));
    case D_GIF_ERR_NOT_ENOUGH_MEM:
    case D_GIF_ERR_DATA_TOO_BIG: return MakeError(ErrorKind::Unsupported, std::move(message));
    default: return MakeError(ErrorKind::BadHeader, std::move(message));
    }
}

// Colours by index; 0 marks an index that leaves the canvas as it is (the transparent index, or
// one beyond the colour map), since every real colour is opaque.
using GifPalette = std::array<QRgb, 256>;

// A frame without any colour map is drawn in greys spread over the indices its LZW code size allows.
GifPalette PaletteOf(const ColorMapObject* map, int codeSize, int transparent)
{
    GifPalette palette{};
    if (map && map->Colors) {
        for (int i = 0; i < std::min(map->ColorCount, 256); ++i)
            palette[static_cast<std::size_t>(i)] = qRgb(map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue);
    } else {
        const int count = 1 << std::clamp(codeSize, 1, 8);
        for (int i = 0; i < count; ++i) {
            const int grey = i * 255 / (count - 1);
            palette[static_cast<std::size_t>(i)] = qRgb(grey, grey, grey);
        }
    }
    if (transparent >= 0 && transparent < 256) palette[static_cast<std::size_t>(transparent)] = 0;
    return palette;
}

// Reads one extension. The first graphics control block before a frame is its own; the first
// NETSCAPE2.0 (or its twin ANIMEXTS1.0) block gives the loop count: sub-block 1, count low, high.
bool ReadExtension(GifFileType* gif, GraphicsControlBlock& control, bool& haveControl, int& loopCount)
{
    int code = 0;
    GifByteType* block = nullptr;
    if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
    bool looping = false;
    if (block) {
        if (code == GRAPHICS_EXT_FUNC_CODE && !haveControl)
            haveControl = DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK;
        looping = code == APPLICATION_EXT_FUNC_CODE && block[0] == 11 &&
                  (std::memcmp(block + 1, "NETSCAPE2.0", 11) == 0 || std::memcmp(block + 1, "ANIMEXTS1.0", 11) == 0);
    }
    while (block) {
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
        if (block && looping && loopCount < 0 && block[0] >= 3 && block[1] == 1) loopCount = block[2] | block[3] << 8;
        looping = false;
    }
    return true;
}

// Passes over the rest of a frame's pixel data; false when it is cut short.
bool SkipPixelData(GifFileType* gif)
{
    GifByteType* block = nullptr;
    do {
        if (DGifGetCodeNext(gif, &block) == GIF_ERROR) return false;
    } while (block);
    return true;
}

// The most pixels `dataBytes` of LZW codes starting `codeSize` + 1 bits wide can give. Each
// table entry is an older one plus a pixel, so the n-th code after a clear gives at most n
// pixels, never more than 4096; and a code giving L pixels, being at least the L-th, is read
// when the table holds over L entries, so it is at least as wide as L in binary. Most pixels per
// bit: 4095 for 12 bits.
std::int64_t LzwPaintable(std::int64_t dataBytes, int codeSize)
{
    const std::int64_t bits = dataBytes * 8;
    const std::int64_t codes = bits / (codeSize + 1);
    const std::int64_t ramp = codes < (std::int64_t{1} << 24) ? codes * (codes + 1) / 2 : INT64_MAX;
    return std::min(ramp, bits * 4096 / 12);
}

// The largest area any frame of the file can paint: its own size, or less when its LZW data
// could not fill it. Read without decoding, so it costs a pass over the bytes.
std::int64_t LargestPaintableFrame(std::span<const std::uint8_t> bytes)
{
    MemoryReader reader{bytes};
    int error = 0;
    GifHandle gif(DGifOpen(&reader, &ReadFromMemory, &error));
    if (!gif.get()) return 0;
    std::int64_t largest = 0;
    GraphicsControlBlock control{};
    bool haveControl = false;
    int loopCount = 0;
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR || type == TERMINATE_RECORD_TYPE) break;
        if (type == EXTENSION_RECORD_TYPE) {
            if (!ReadExtension(gif.get(), control, haveControl, loopCount)) break;
            continue;
        }
        if (DGifGetImageDesc(gif.get()) == GIF_ERROR) break;
        const int codeSize = reader.bytes[reader.offset - 1];
        std::int64_t dataBytes = 0;
        GifByteType* block = nullptr;
        bool whole = true;
        do {
            whole = DGifGetCodeNext(gif.get(), &block) != GIF_ERROR;
            if (whole && block) dataBytes += block[0];
        } while (whole && block);
        const std::int64_t area = std::int64_t{gif.get()->Image.Width} * gif.get()->Image.Height;
        largest = std::max(largest, std::min(area, LzwPaintable(dataBytes, codeSize)));
        if (!whole) break;
    }
    return largest;
}

struct Drawn {
    int rows = 0;           // rows decoded and drawn where they fall on the canvas
    bool complete = false;  // all of the frame's data was read
};

// Decodes the current frame row by row onto `canvas`, leaving out what falls outside it.
Drawn DrawFrame(GifFileType* gif, QImage& canvas, const QRect& frame, const GifPalette& palette)
{
    Drawn drawn;
    if (frame.isEmpty()) {
        drawn.complete = SkipPixelData(gif);
        return drawn;
    }
    const QRect visible = frame & canvas.rect();
    const bool interlace = gif->Image.Interlace;
    std::vector<GifPixelType> line(static_cast<std::size_t>(frame.width()));
    for (const int y : GifRowOrder(frame.height(), interlace)) {
        // Progressive rows below the canvas are the rest of the frame: no need to decode them.
        if (!interlace && frame.top() + y > visible.bottom()) {
            drawn.complete = SkipPixelData(gif);
            return drawn;
        }
        if (DGifGetLine(gif, line.data(), frame.width()) == GIF_ERROR) return drawn;
        ++drawn.rows;
        const int canvasY = frame.top() + y;
        if (canvasY < visible.top() || canvasY > visible.bottom()) continue;
        auto* dst = reinterpret_cast<QRgb*>(canvas.scanLine(canvasY));
        for (int x = visible.left(); x <= visible.right(); ++x)
            if (const QRgb colour = palette[line[static_cast<std::size_t>(x - frame.left())]]) dst[x] = colour;
    }
    drawn.complete = true;
    return drawn;
}

void ClearRect(QImage& canvas, const QRect& rect)
{
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(canvas.scanLine(y));
        std::fill(row + rect.left(), row + rect.right() + 1, QRgb{0});
    }
}

// Reads the records after the screen descriptor and composites up to `frameLimit` frames onto
// the canvas as browsers do: frames are clipped to the screen, which grows to take in the first
// frame whole; a file that is cut short or damaged keeps the frames and rows decoded before the
// fault. A canvas far larger than every frame can paint is refused before it is allocated.
Result<GifAnimation> ReadFrames(GifFileType* gif, const MemoryReader& reader, std::int64_t paintable,
                                std::size_t frameLimit)
{
    GifAnimation animation;
    // Browsers start from a transparent canvas and clear to transparent, ignoring the background colour.
    QImage canvas;
    QImage restore;
    QRect disposeRect;
    int disposal = DISPOSAL_UNSPECIFIED;
    GraphicsControlBlock control{DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR};
    bool haveControl = false;
    int fault = D_GIF_SUCCEEDED;

    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) {
            fault = gif->Error;
            break;
        }
        if (type == TERMINATE_RECORD_TYPE) break;
        if (type == EXTENSION_RECORD_TYPE) {
            if (!ReadExtension(gif, control, haveControl, animation.loopCount)) {
                fault = gif->Error;
                break;
            }
            continue;
        }
        if (DGifGetImageDesc(gif) == GIF_ERROR) {
            fault = gif->Error;
            break;
        }
        // giflib keeps the LZW code size to itself; it is the byte just read.
        const int codeSize = reader.bytes[reader.offset - 1];
        const GifImageDesc& desc = gif->Image;
        const QRect frame(desc.Left, desc.Top, desc.Width, desc.Height);

        if (canvas.isNull()) {
            const int w = frame.isEmpty() ? gif->SWidth : std::max(gif->SWidth, frame.left() + frame.width());
            const int h = frame.isEmpty() ? gif->SHeight : std::max(gif->SHeight, frame.top() + frame.height());
            if (w <= 0 || h <= 0 || w > kMaxSide || h > kMaxSide)
                return MakeError(ErrorKind::Unsupported, "GIF canvas size out of range");
            if (!DataCouldShow(std::int64_t{w} * h, paintable))
                return MakeError(ErrorKind::BadHeader, "GIF: the file is too short for the declared size");
            canvas = NewPicture(w, h, QImage::Format_ARGB32);
            if (canvas.isNull()) return MakeError(ErrorKind::Unsupported, "GIF canvas too large");
            canvas.fill(Qt::transparent);
        }
        const std::int64_t canvasPixels = std::int64_t{canvas.width()} * canvas.height();
        if (canvasPixels * static_cast<std::int64_t>(animation.frames.size() + 1) > kMaxTotalPixels)
            return MakeError(ErrorKind::Unsupported, "GIF animation too large");

        if (disposal == DISPOSE_BACKGROUND)
            ClearRect(canvas, disposeRect);
        else if (disposal == DISPOSE_PREVIOUS && !restore.isNull())
            canvas = restore;
        const bool last = animation.frames.size() + 1 >= frameLimit;
        disposal = control.DisposalMode;
        disposeRect = frame & canvas.rect();
        // A detached copy: the canvas is drawn on next, and the frames keep their own pixels.
        restore = disposal == DISPOSE_PREVIOUS && !last ? CopyPicture(canvas) : QImage();

        const GifPalette palette =
            PaletteOf(desc.ColorMap ? desc.ColorMap : gif->SColorMap, codeSize, control.TransparentColor);
        const Drawn drawn = DrawFrame(gif, canvas, frame, palette);
        const int delayMs = std::max(control.DelayTime, 0) * 10;
        if (last && (drawn.complete || drawn.rows > 0)) {
            // Nothing is drawn after it: the canvas itself is the frame, with no copy beside it.
            animation.frames.push_back(GifFrame{std::move(canvas), delayMs});
            break;
        }
        if (drawn.complete || drawn.rows > 0) animation.frames.push_back(GifFrame{CopyPicture(canvas), delayMs});
        if (!drawn.complete) {
            fault = gif->Error;
            break;
        }
        control = GraphicsControlBlock{DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR};
        haveControl = false;
    }
    if (animation.frames.empty())
        return fault == D_GIF_SUCCEEDED ? MakeError(ErrorKind::BadHeader, "GIF has no frames") : GiflibError(fault);
    return animation;
}

}  // namespace

Result<GifAnimation> DecodeGif(std::span<const std::uint8_t> bytes, std::size_t frameLimit)
{
    if (bytes.empty()) return MakeError(ErrorKind::Truncated, "empty GIF data");
    MemoryReader reader{bytes};
    int error = 0;
    GifHandle gif(DGifOpen(&reader, &ReadFromMemory, &error));
    if (!gif.get()) return GiflibError(error);
    return ReadFrames(gif.get(), reader, LargestPaintableFrame(bytes), std::max<std::size_t>(frameLimit, 1));
}

Result<QImage> DecodeGifFirstFrame(std::span<const std::uint8_t> bytes)
{
    Result<GifAnimation> gif = DecodeGif(bytes, 1);
    if (!gif) return gif.error();
    return std::move(gif.value().frames.front().image);
}

Result<GifAnimation> DecodeGif(const std::string& path)
{
    Result<std::vector<std::uint8_t>> bytes = ReadImageFile(path);
    if (!bytes) return bytes.error();
    return DecodeGif(bytes.value());
}

std::vector<int> GifRowOrder(int height, bool interlace)
{
    std::vector<int> rows;
    rows.reserve(static_cast<std::size_t>(std::max(height, 0)));
    if (!interlace) {
        for (int y = 0; y < height; ++y)
            rows.push_back(y);
        return rows;
    }
    for (const auto& [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}})
        for (int y = start; y < height; y += step)
            rows.push_back(y);
    return rows;
}

}  // namespace quillix::imaging
