#include "imaging/gif_codec.h"

#include "imaging/webp_bridge.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>

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

// NETSCAPE2.0 (or its twin ANIMEXTS1.0) followed by the sub-block 1, count low, count high.
int LoopCountIn(const ExtensionBlock* blocks, int count)
{
    for (int i = 0; i + 1 < count; ++i) {
        const ExtensionBlock& app = blocks[i];
        if (app.Function != APPLICATION_EXT_FUNC_CODE || app.ByteCount != 11) continue;
        if (std::memcmp(app.Bytes, "NETSCAPE2.0", 11) != 0 && std::memcmp(app.Bytes, "ANIMEXTS1.0", 11) != 0) continue;
        const ExtensionBlock& sub = blocks[i + 1];
        if (sub.Function == CONTINUE_EXT_FUNC_CODE && sub.ByteCount >= 3 && sub.Bytes[0] == 1)
            return sub.Bytes[1] | sub.Bytes[2] << 8;
    }
    return -1;
}

int LoopCountOf(const GifFileType* gif)
{
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage& image = gif->SavedImages[i];
        const int loop = LoopCountIn(image.ExtensionBlocks, image.ExtensionBlockCount);
        if (loop >= 0) return loop;
    }
    return LoopCountIn(gif->ExtensionBlocks, gif->ExtensionBlockCount);
}

void ClearRect(QImage& canvas, const QRect& rect)
{
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(canvas.scanLine(y));
        std::fill(row + rect.left(), row + rect.right() + 1, QRgb{0});
    }
}

Result<GifAnimation> Composite(GifFileType* gif)
{
    const int w = gif->SWidth, h = gif->SHeight;
    if (w <= 0 || h <= 0 || w > kMaxSide || h > kMaxSide)
        return MakeError(ErrorKind::Unsupported, "GIF canvas size out of range");
    if (gif->ImageCount <= 0) return MakeError(ErrorKind::BadHeader, "GIF has no frames");
    if (static_cast<std::int64_t>(w) * h * gif->ImageCount > kMaxTotalPixels)
        return MakeError(ErrorKind::Unsupported, "GIF animation too large");

    GifAnimation animation;
    animation.loopCount = LoopCountOf(gif);
    animation.frames.reserve(static_cast<std::size_t>(gif->ImageCount));
    // Browsers start from a transparent canvas and clear to transparent, ignoring the background colour.
    QImage canvas(w, h, QImage::Format_ARGB32);
    if (canvas.isNull()) return MakeError(ErrorKind::Unsupported, "GIF canvas too large");
    canvas.fill(Qt::transparent);
    QImage restore;
    QRect disposeRect;
    int disposal = DISPOSAL_UNSPECIFIED;

    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage& image = gif->SavedImages[i];
        const GifImageDesc& desc = image.ImageDesc;
        const QRect rect(desc.Left, desc.Top, desc.Width, desc.Height);
        if (desc.Width <= 0 || desc.Height <= 0 || desc.Left < 0 || desc.Top < 0 || desc.Left > w - desc.Width ||
            desc.Top > h - desc.Height)
            return MakeError(ErrorKind::BadHeader, "GIF frame outside the canvas");
        const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
        if (!map || !map->Colors || map->ColorCount <= 0)
            return MakeError(ErrorKind::BadHeader, "GIF frame without a colour map");
        if (!image.RasterBits) return MakeError(ErrorKind::Truncated, "GIF frame without pixels");

        if (disposal == DISPOSE_BACKGROUND)
            ClearRect(canvas, disposeRect);
        else if (disposal == DISPOSE_PREVIOUS && !restore.isNull())
            canvas = restore;

        GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR};
        DGifSavedExtensionToGCB(gif, i, &gcb);
        disposal = gcb.DisposalMode;
        disposeRect = rect;
        // A detached copy: the canvas is drawn on next, and the frames keep their own pixels.
        restore = disposal == DISPOSE_PREVIOUS ? canvas.copy() : QImage();

        // giflib has already put interlaced rows back in their order.
        for (int y = 0; y < desc.Height; ++y) {
            const GifByteType* src = image.RasterBits + static_cast<std::ptrdiff_t>(y) * desc.Width;
            auto* dst = reinterpret_cast<QRgb*>(canvas.scanLine(desc.Top + y)) + desc.Left;
            for (int x = 0; x < desc.Width; ++x) {
                const int index = src[x];
                if (index == gcb.TransparentColor || index >= map->ColorCount) continue;
                const GifColorType& c = map->Colors[index];
                dst[x] = qRgb(c.Red, c.Green, c.Blue);
            }
        }
        animation.frames.push_back(GifFrame{canvas.copy(), std::max(gcb.DelayTime, 0) * 10});
    }
    return animation;
}

}  // namespace

Result<GifAnimation> DecodeGif(std::span<const std::uint8_t> bytes)
{
    if (bytes.empty()) return MakeError(ErrorKind::Truncated, "empty GIF data");
    MemoryReader reader{bytes};
    int error = 0;
    GifHandle gif(DGifOpen(&reader, &ReadFromMemory, &error));
    if (!gif.get()) return GiflibError(error);
    if (DGifSlurp(gif.get()) != GIF_OK) return GiflibError(gif.get()->Error);
    return Composite(gif.get());
}

Result<GifAnimation> DecodeGif(const std::string& path)
{
    Result<std::vector<std::uint8_t>> bytes = ReadImageFile(path);
    if (!bytes) return bytes.error();
    return DecodeGif(bytes.value());
}

}  // namespace quillix::imaging
