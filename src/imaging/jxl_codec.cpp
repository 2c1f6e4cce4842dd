#include "imaging/jxl_codec.h"

#include "imaging/image_format.h"
#include "imaging/still_decoder.h"

#include <jxl/decode.h>
#include <jxl/encode.h>  // JxlColorEncodingSetToSRGB
#include <jxl/thread_parallel_runner.h>

#include <QByteArray>
#include <QColorSpace>
#include <QPointF>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <utility>

namespace quillix::imaging {
namespace {

static_assert(std::endian::native == std::endian::little,
              "RGBA bytes become Format_ARGB32 by swapping red and blue only on little-endian machines");

// The frames of an animation together, as for GIF: beyond it the viewer shows the first frame.
constexpr std::int64_t kMaxAnimationPixels = std::int64_t{1} << 27;

constexpr JxlPixelFormat kRgba8 = {4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};

struct DecoderDeleter {
    void operator()(JxlDecoder* decoder) const { JxlDecoderDestroy(decoder); }
};
struct RunnerDeleter {
    void operator()(void* runner) const { JxlThreadParallelRunnerDestroy(runner); }
};

// A decoder over all of `bytes` at once, so that a wish for more input means the file is cut short.
struct Session {
    std::unique_ptr<JxlDecoder, DecoderDeleter> decoder;
    std::unique_ptr<void, RunnerDeleter> runner;
};

Error Damaged()
{
    return MakeError(ErrorKind::BadHeader, "JPEG XL: the data is damaged or not a picture libjxl can read");
}

Error CutShort()
{
    return MakeError(ErrorKind::Truncated, "JPEG XL: the file is cut short");
}

Result<Session> Open(std::span<const std::uint8_t> bytes, int events, int threads)
{
    const JxlSignature signature = JxlSignatureCheck(bytes.data(), bytes.size());
    if (signature == JXL_SIG_NOT_ENOUGH_BYTES) return CutShort();
    if (signature != JXL_SIG_CODESTREAM && signature != JXL_SIG_CONTAINER)
        return MakeError(ErrorKind::BadHeader, "JPEG XL: not a JPEG XL file");
    Session s;
    s.decoder.reset(JxlDecoderCreate(nullptr));
    if (!s.decoder) return MakeError(ErrorKind::Unsupported, "JPEG XL: not enough memory for a decoder");
    JxlDecoder* d = s.decoder.get();
    if (threads > 1) {
        s.runner.reset(JxlThreadParallelRunnerCreate(nullptr, static_cast<std::size_t>(threads)));
        if (s.runner && JxlDecoderSetParallelRunner(d, JxlThreadParallelRunner, s.runner.get()) != JXL_DEC_SUCCESS)
            return Damaged();
    }
    if (JxlDecoderSubscribeEvents(d, events) != JXL_DEC_SUCCESS ||
        JxlDecoderSetUnpremultiplyAlpha(d, JXL_TRUE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(d, bytes.data(), bytes.size()) != JXL_DEC_SUCCESS)
        return Damaged();
    return s;
}

// Basic info's size refused beyond kMaxPixels; what is shown is turned by the orientation.
Result<QSize> ShownSize(const JxlBasicInfo& info)
{
    if (info.xsize == 0 || info.ysize == 0) return Damaged();
    if (std::int64_t{info.xsize} * info.ysize > kMaxPixels)
        return MakeError(ErrorKind::Unsupported, "JPEG XL: picture too large");
    const bool transposed = info.orientation >= JXL_ORIENT_TRANSPOSE;
    const int w = static_cast<int>(info.xsize), h = static_cast<int>(info.ysize);
    return transposed ? QSize(h, w) : QSize(w, h);
}

bool IsSrgb(const JxlColorEncoding& c)
{
    const bool srgbPrimaries = c.color_space == JXL_COLOR_SPACE_GRAY || c.primaries == JXL_PRIMARIES_SRGB;
    return c.white_point == JXL_WHITE_POINT_D65 && srgbPrimaries && c.transfer_function == JXL_TRANSFER_FUNCTION_SRGB;
}

// The encoded profile as a QColorSpace, or an invalid one for a curve Qt has no name for. Grey
// expanded to RGB keeps its white point and curve whatever primaries stand beside them.
QColorSpace FromEncoding(const JxlColorEncoding& c)
{
    QColorSpace::TransferFunction curve = QColorSpace::TransferFunction::Custom;
    float gamma = 0.0f;
    switch (c.transfer_function) {
    case JXL_TRANSFER_FUNCTION_LINEAR: curve = QColorSpace::TransferFunction::Linear; break;
    case JXL_TRANSFER_FUNCTION_SRGB: curve = QColorSpace::TransferFunction::SRgb; break;
    case JXL_TRANSFER_FUNCTION_DCI:
        curve = QColorSpace::TransferFunction::Gamma;
        gamma = 2.6f;
        break;
    case JXL_TRANSFER_FUNCTION_GAMMA:
        // Stored as the encoding exponent (0.4545… for a 2.2 curve).
        if (!(c.gamma > 0.0 && c.gamma <= 1.0)) return {};
        curve = QColorSpace::TransferFunction::Gamma;
        gamma = static_cast<float>(1.0 / c.gamma);
        break;
    default: return {};
    }
    const auto xy = [](const double(&p)[2]) { return QPointF(p[0], p[1]); };
    const bool grey = c.color_space == JXL_COLOR_SPACE_GRAY;
    const QPointF red = grey ? QPointF(0.64, 0.33) : xy(c.primaries_red_xy);
    const QPointF green = grey ? QPointF(0.30, 0.60) : xy(c.primaries_green_xy);
    const QPointF blue = grey ? QPointF(0.15, 0.06) : xy(c.primaries_blue_xy);
    return QColorSpace(xy(c.white_point_xy), red, green, blue, curve, gamma);
}

// The colour space of the decoded pixels; untagged for sRGB or for what Qt cannot hold.
QColorSpace DataSpace(const JxlDecoder* d)
{
    JxlColorEncoding c{};
    if (JxlDecoderGetColorAsEncodedProfile(d, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &c) == JXL_DEC_SUCCESS) {
        if (c.color_space != JXL_COLOR_SPACE_RGB && c.color_space != JXL_COLOR_SPACE_GRAY) return {};
        if (IsSrgb(c)) return {};
        if (QColorSpace space = FromEncoding(c); space.isValid()) return space;
    }
    // An embedded profile, or the one libjxl writes for a curve like BT.709's.
    std::size_t size = 0;
    if (JxlDecoderGetICCProfileSize(d, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size) != JXL_DEC_SUCCESS || size == 0)
        return {};
    QByteArray icc(static_cast<qsizetype>(size), Qt::Uninitialized);
    if (JxlDecoderGetColorAsICCProfile(d, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                       reinterpret_cast<std::uint8_t*>(icc.data()), size) != JXL_DEC_SUCCESS)
        return {};
    QColorSpace space = QColorSpace::fromIccProfile(icc);
    if (!space.isValid() || space == QColorSpace(QColorSpace::SRgb)) return {};
    return space;
}

// Pixels kept in XYB with an ICC profile libjxl cannot convert to: without the wish it would give
// linear light, which 8 bits band. sRGB is where they are shown anyway.
void PreferSrgbOverLinear(JxlDecoder* d, const JxlBasicInfo& info)
{
    if (info.uses_original_profile) return;
    if (JxlDecoderGetColorAsEncodedProfile(d, nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL, nullptr) == JXL_DEC_SUCCESS)
        return;
    JxlColorEncoding srgb{};
    JxlColorEncodingSetToSRGB(&srgb, info.num_color_channels == 1 ? JXL_TRUE : JXL_FALSE);
    JxlDecoderSetPreferredColorProfile(d, &srgb);
}

// libjxl writes R, G, B, A bytes; Format_(A)RGB32 wants B, G, R, A in memory here. Swapping in
// libjxl's row callback instead would save this pass, but libjxl 0.7 spends more than twice the
// CPU on its callback path when pictures decode side by side, as thumbnails do (bench/jxl_bench).
void SwapRedBlue(QImage& image)
{
    auto* p = reinterpret_cast<std::uint32_t*>(image.bits());
    const std::size_t n = static_cast<std::size_t>(image.sizeInBytes()) / 4;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t v = p[i];
        p[i] = (v & 0xFF00FF00u) | (v >> 16 & 0xFFu) | (v & 0xFFu) << 16;
    }
}

// Points the decoder at a new picture of the size it asks for.
Result<QImage> OutputPicture(JxlDecoder* d, QImage::Format format)
{
    JxlBasicInfo info{};
    if (JxlDecoderGetBasicInfo(d, &info) != JXL_DEC_SUCCESS) return Damaged();
    Result<QSize> size = ShownSize(info);
    if (!size) return size.error();
    std::size_t needed = 0;
    if (JxlDecoderImageOutBufferSize(d, &kRgba8, &needed) != JXL_DEC_SUCCESS ||
        needed != static_cast<std::size_t>(size.value().width()) * static_cast<std::size_t>(size.value().height()) * 4)
        return Damaged();
    QImage image = NewPicture(size.value().width(), size.value().height(), format);
    if (image.isNull()) return MakeError(ErrorKind::Unsupported, "JPEG XL: not enough memory for the picture");
    if (JxlDecoderSetImageOutBuffer(d, &kRgba8, image.bits(), needed) != JXL_DEC_SUCCESS) return Damaged();
    return image;
}

// The frames an animation shows (coalesced), from their headers; stops counting past `limit`.
Result<std::int64_t> CountFrames(std::span<const std::uint8_t> bytes, std::int64_t limit)
{
    Result<Session> s = Open(bytes, JXL_DEC_BASIC_INFO | JXL_DEC_FRAME, kJxlOneThread);
    if (!s) return s.error();
    JxlDecoder* d = s.value().decoder.get();
    std::int64_t frames = 0;
    for (;;) {
        switch (JxlDecoderProcessInput(d)) {
        case JXL_DEC_BASIC_INFO: {
            JxlBasicInfo info{};
            if (JxlDecoderGetBasicInfo(d, &info) != JXL_DEC_SUCCESS) return Damaged();
            if (Result<QSize> size = ShownSize(info); !size) return size.error();
            if (!info.have_animation) return std::int64_t{1};
            break;
        }
        case JXL_DEC_FRAME:
            if (++frames > limit) return frames;
            break;
        case JXL_DEC_SUCCESS: return frames;
        case JXL_DEC_NEED_MORE_INPUT: return CutShort();
        default: return Damaged();  // JXL_DEC_ERROR, or an event not subscribed to
        }
    }
}

int DelayMs(const JxlBasicInfo& info, std::uint32_t ticks)
{
    if (info.animation.tps_numerator == 0) return 0;
    const double ms = 1000.0 * ticks * info.animation.tps_denominator / info.animation.tps_numerator;
    return static_cast<int>(std::min(std::round(ms), double{std::numeric_limits<int>::max()}));
}

// GifAnimation counts repeats after the first pass, and -1 is a single pass; JPEG XL counts passes.
int GifLoopCount(std::uint32_t numLoops)
{
    if (numLoops == 0) return 0;
    if (numLoops == 1) return -1;
    return static_cast<int>(std::min<std::uint32_t>(numLoops - 1, std::numeric_limits<int>::max()));
}

}  // namespace

int JxlViewerThreads()
{
    return static_cast<int>(std::clamp<std::size_t>(JxlThreadParallelRunnerDefaultNumWorkerThreads(), 1, 64));
}

Result<QSize> JxlSize(std::span<const std::uint8_t> bytes)
{
    Result<Session> s = Open(bytes, JXL_DEC_BASIC_INFO, kJxlOneThread);
    if (!s) return s.error();
    JxlDecoder* d = s.value().decoder.get();
    switch (JxlDecoderProcessInput(d)) {
    case JXL_DEC_BASIC_INFO: {
        JxlBasicInfo info{};
        if (JxlDecoderGetBasicInfo(d, &info) != JXL_DEC_SUCCESS) return Damaged();
        return ShownSize(info);
    }
    case JXL_DEC_NEED_MORE_INPUT: return CutShort();
    default: return Damaged();
    }
}

Result<QImage> DecodeJxl(std::span<const std::uint8_t> bytes, int threads)
{
    Result<Session> s = Open(bytes, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE, threads);
    if (!s) return s.error();
    JxlDecoder* d = s.value().decoder.get();
    JxlBasicInfo info{};
    QColorSpace space;
    QImage image;
    for (;;) {
        switch (JxlDecoderProcessInput(d)) {
        case JXL_DEC_BASIC_INFO:
            if (JxlDecoderGetBasicInfo(d, &info) != JXL_DEC_SUCCESS) return Damaged();
            if (Result<QSize> size = ShownSize(info); !size) return size.error();
            break;
        case JXL_DEC_COLOR_ENCODING:
            PreferSrgbOverLinear(d, info);
            space = DataSpace(d);
            break;
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
            Result<QImage> out = OutputPicture(d, info.alpha_bits > 0 ? QImage::Format_ARGB32 : QImage::Format_RGB32);
            if (!out) return out.error();
            image = std::move(out).value();
            break;
        }
        case JXL_DEC_FULL_IMAGE:
            // An animation's first frame; the rest are never decoded.
            SwapRedBlue(image);
            if (space.isValid()) image.setColorSpace(space);
            return image;
        case JXL_DEC_SUCCESS: return MakeError(ErrorKind::BadHeader, "JPEG XL: the file holds no picture");
        case JXL_DEC_NEED_MORE_INPUT: return CutShort();
        default: return Damaged();  // JXL_DEC_ERROR, or an event not subscribed to
        }
    }
}

bool IsAnimatedJxl(std::span<const std::uint8_t> bytes)
{
    const Result<std::int64_t> frames = CountFrames(bytes, 2);
    return frames.ok() && frames.value() > 1;
}

Result<GifAnimation> DecodeJxlAnimation(std::span<const std::uint8_t> bytes, int threads)
{
    // The frame headers first: an animation too large as a whole is refused before any frame.
    Result<QSize> canvas = JxlSize(bytes);
    if (!canvas) return canvas.error();
    const std::int64_t canvasPixels = std::int64_t{canvas.value().width()} * canvas.value().height();
    const Result<std::int64_t> frames = CountFrames(bytes, kMaxAnimationPixels / canvasPixels);
    if (!frames) return frames.error();
    if (frames.value() * canvasPixels > kMaxAnimationPixels)
        return MakeError(ErrorKind::Unsupported, "JPEG XL: the animation is too large to hold");

    Result<Session> s =
        Open(bytes, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FRAME | JXL_DEC_FULL_IMAGE, threads);
    if (!s) return s.error();
    JxlDecoder* d = s.value().decoder.get();
    JxlBasicInfo info{};
    QColorSpace space;
    GifAnimation animation;
    GifFrame frame;
    for (;;) {
        switch (JxlDecoderProcessInput(d)) {
        case JXL_DEC_BASIC_INFO:
            if (JxlDecoderGetBasicInfo(d, &info) != JXL_DEC_SUCCESS) return Damaged();
            if (Result<QSize> size = ShownSize(info); !size) return size.error();
            animation.loopCount = info.have_animation ? GifLoopCount(info.animation.num_loops) : -1;
            break;
        case JXL_DEC_COLOR_ENCODING:
            PreferSrgbOverLinear(d, info);
            space = DataSpace(d);
            break;
        case JXL_DEC_FRAME: {
            JxlFrameHeader header{};
            if (JxlDecoderGetFrameHeader(d, &header) != JXL_DEC_SUCCESS) return Damaged();
            frame.delayMs = info.have_animation ? DelayMs(info, header.duration) : 0;
            break;
        }
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
            // The count above bounds this too, unless the file says otherwise the second time.
            if (std::int64_t(animation.frames.size() + 1) * canvasPixels > kMaxAnimationPixels)
                return MakeError(ErrorKind::Unsupported, "JPEG XL: the animation is too large to hold");
            Result<QImage> out = OutputPicture(d, QImage::Format_ARGB32);
            if (!out) return out.error();
            frame.image = std::move(out).value();
            break;
        }
        case JXL_DEC_FULL_IMAGE:
            SwapRedBlue(frame.image);
            if (space.isValid()) frame.image.setColorSpace(space);
            animation.frames.push_back(std::move(frame));
            frame = GifFrame{};
            break;
        case JXL_DEC_SUCCESS:
            if (animation.frames.empty()) return MakeError(ErrorKind::BadHeader, "JPEG XL: the file holds no picture");
            return animation;
        case JXL_DEC_NEED_MORE_INPUT: return CutShort();
        default: return Damaged();  // JXL_DEC_ERROR, or an event not subscribed to
        }
    }
}

}  // namespace quillix::imaging
