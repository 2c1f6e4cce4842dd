#include "imaging/heif_codec.h"

#include "imaging/image_format.h"
#include "imaging/still_decoder.h"
#include "imaging/thumbnail.h"
#include "imaging/thumbnail_scale.h"

#include <libheif/heif.h>

#include <QByteArray>
#include <QColorSpace>
#include <QList>
#include <QPointF>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quillix::imaging {
namespace {

struct ContextFree {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleRelease {
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct ImageRelease {
    void operator()(heif_image* image) const { heif_image_release(image); }
};
struct NclxFree {
    void operator()(heif_color_profile_nclx* nclx) const { heif_nclx_color_profile_free(nclx); }
};
struct OptionsFree {
    void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};

using Context = std::unique_ptr<heif_context, ContextFree>;
using Handle = std::unique_ptr<heif_image_handle, HandleRelease>;
using Image = std::unique_ptr<heif_image, ImageRelease>;
using Nclx = std::unique_ptr<heif_color_profile_nclx, NclxFree>;

Error FromHeif(const heif_error& error)
{
    const std::string text = std::string("HEIF: ") + (error.message ? error.message : "unreadable picture");
    switch (error.code) {
    case heif_error_Unsupported_filetype:
    case heif_error_Unsupported_feature:
    case heif_error_Plugin_loading_error: return MakeError(ErrorKind::Unsupported, text);
    case heif_error_Memory_allocation_error:
        return MakeError(
            error.subcode == heif_suberror_Security_limit_exceeded ? ErrorKind::Unsupported : ErrorKind::Io, text);
    default: return MakeError(ErrorKind::BadHeader, text);
    }
}

// The handle borrows `bytes`: both must stay alive while it is used.
struct Opened {
    Context context;
    Handle primary;
};

// Registers libheif's codecs once, before threads of the pool can race to do it lazily. Never
// undone: other threads may be decoding at exit.
bool LibraryReady()
{
    static const bool ready = heif_init(nullptr).code == heif_error_Ok;
    return ready;
}

Result<Opened> Open(std::span<const std::uint8_t> bytes)
{
    if (!LibraryReady()) return MakeError(ErrorKind::Unsupported, "HEIF: libheif could not start");
    if (bytes.empty()) return MakeError(ErrorKind::BadHeader, "HEIF: empty file");
    Context context(heif_context_alloc());
    if (!context) return MakeError(ErrorKind::Io, "HEIF: out of memory");
    heif_error error = heif_context_read_from_memory_without_copy(context.get(), bytes.data(), bytes.size(), nullptr);
    if (error.code != heif_error_Ok) return FromHeif(error);
    heif_image_handle* primary = nullptr;
    error = heif_context_get_primary_image_handle(context.get(), &primary);
    Handle owned(primary);
    if (error.code != heif_error_Ok) return FromHeif(error);
    return Opened{std::move(context), std::move(owned)};
}

QSize DeclaredSize(const heif_image_handle* handle)
{
    return {heif_image_handle_get_width(handle), heif_image_handle_get_height(handle)};
}

// The shown size, refused beyond the pixel bound: the coded size (before a turn or crop) is
// what the decoder allocates, so both count.
Result<QSize> BoundedSize(const heif_image_handle* handle)
{
    const QSize shown = DeclaredSize(handle);
    if (shown.width() <= 0 || shown.height() <= 0)
        return MakeError(ErrorKind::BadHeader, "HEIF: picture without a size");
    const std::int64_t coded =
        std::int64_t{heif_image_handle_get_ispe_width(handle)} * heif_image_handle_get_ispe_height(handle);
    if (std::max(coded, std::int64_t{shown.width()} * shown.height()) > kMaxPixels)
        return MakeError(ErrorKind::Unsupported, "HEIF: picture too large");
    return shown;
}

// BT.709, BT.601 and BT.2020 share one transfer curve, which QColorSpace has no name for.
QList<std::uint16_t> Bt709Curve()
{
    QList<std::uint16_t> table(1024);
    for (qsizetype i = 0; i < table.size(); ++i) {
        const double v = static_cast<double>(i) / static_cast<double>(table.size() - 1);
        const double linear = v < 0.081 ? v / 4.5 : std::pow((v + 0.099) / 1.099, 1.0 / 0.45);
        table[i] = static_cast<std::uint16_t>(std::lround(linear * 65535.0));
    }
    return table;
}

// Primaries and transfer as QColorSpace knows them; invalid for what it cannot show (PQ and
// HLG need tone mapping) and for a profile that declares neither.
QColorSpace FromNclx(const heif_color_profile_nclx& nclx)
{
    const bool primariesGiven = nclx.color_primaries != heif_color_primaries_unspecified;
    const bool transferGiven = nclx.transfer_characteristics != heif_transfer_characteristic_unspecified;
    if (!primariesGiven && !transferGiven) return {};

    const QPointF white(nclx.color_primary_white_x, nclx.color_primary_white_y);
    const QPointF red(nclx.color_primary_red_x, nclx.color_primary_red_y);
    const QPointF green(nclx.color_primary_green_x, nclx.color_primary_green_y);
    const QPointF blue(nclx.color_primary_blue_x, nclx.color_primary_blue_y);
    QColorSpace::Primaries named = QColorSpace::Primaries::Custom;
    switch (nclx.color_primaries) {
    case heif_color_primaries_unspecified:
    case heif_color_primaries_ITU_R_BT_709_5: named = QColorSpace::Primaries::SRgb; break;
    case heif_color_primaries_SMPTE_EG_432_1: named = QColorSpace::Primaries::DciP3D65; break;
    default: break;
    }
    auto make = [&](QColorSpace::TransferFunction function, float gamma) {
        if (named != QColorSpace::Primaries::Custom) return QColorSpace(named, function, gamma);
        return QColorSpace(white, red, green, blue, function, gamma);
    };

    switch (nclx.transfer_characteristics) {
    case heif_transfer_characteristic_unspecified:
    case heif_transfer_characteristic_IEC_61966_2_1: return make(QColorSpace::TransferFunction::SRgb, 0.0f);
    case heif_transfer_characteristic_linear: return make(QColorSpace::TransferFunction::Linear, 0.0f);
    case heif_transfer_characteristic_ITU_R_BT_470_6_System_M: return make(QColorSpace::TransferFunction::Gamma, 2.2f);
    case heif_transfer_characteristic_ITU_R_BT_470_6_System_B_G:
        return make(QColorSpace::TransferFunction::Gamma, 2.8f);
    case heif_transfer_characteristic_ITU_R_BT_709_5:
    case heif_transfer_characteristic_ITU_R_BT_601_6:
    case heif_transfer_characteristic_ITU_R_BT_2020_2_10bit:
    case heif_transfer_characteristic_ITU_R_BT_2020_2_12bit:
        if (named != QColorSpace::Primaries::Custom) return QColorSpace(named, Bt709Curve());
        return QColorSpace(white, red, green, blue, Bt709Curve());
    default: return {};
    }
}

QColorSpace ColourSpaceOf(const heif_image_handle* handle, const heif_image* decoded)
{
    switch (heif_image_handle_get_color_profile_type(handle)) {
    case heif_color_profile_type_prof:
    case heif_color_profile_type_rICC: {
        QByteArray icc(static_cast<qsizetype>(heif_image_handle_get_raw_color_profile_size(handle)), '\0');
        if (icc.isEmpty() || heif_image_handle_get_raw_color_profile(handle, icc.data()).code != heif_error_Ok)
            return {};
        return QColorSpace::fromIccProfile(icc);
    }
    case heif_color_profile_type_nclx: {
        heif_color_profile_nclx* nclx = nullptr;
        const heif_error error = heif_image_handle_get_nclx_color_profile(handle, &nclx);
        const Nclx owned(nclx);
        return error.code == heif_error_Ok && owned ? FromNclx(*owned) : QColorSpace();
    }
    default: break;
    }
    // Without a colr box the coded stream may still say (an AV1 sequence header does).
    if (heif_image_get_color_profile_type(decoded) != heif_color_profile_type_nclx) return {};
    heif_color_profile_nclx* nclx = nullptr;
    const heif_error error = heif_image_get_nclx_color_profile(decoded, &nclx);
    const Nclx owned(nclx);
    return error.code == heif_error_Ok && owned ? FromNclx(*owned) : QColorSpace();
}

Result<QImage> DecodeHandle(const heif_image_handle* handle)
{
    Result<QSize> declared = BoundedSize(handle);
    if (!declared) return declared.error();
    const bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;
    const std::unique_ptr<heif_decoding_options, OptionsFree> options(heif_decoding_options_alloc());
    if (!options) return MakeError(ErrorKind::Io, "HEIF: out of memory");
    options->convert_hdr_to_8bit = 1;
    heif_image* decodedRaw = nullptr;
    const heif_error error =
        heif_decode_image(handle, &decodedRaw, heif_colorspace_RGB,
                          alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get());
    const Image decoded(decodedRaw);
    if (error.code != heif_error_Ok) return FromHeif(error);
    if (!decoded) return MakeError(ErrorKind::BadHeader, "HEIF: unreadable picture");

    int stride = 0;
    const std::uint8_t* plane = heif_image_get_plane_readonly(decoded.get(), heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(decoded.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(decoded.get(), heif_channel_interleaved);
    const int channels = alpha ? 4 : 3;
    if (!plane || width <= 0 || height <= 0 || std::int64_t{width} * height > kMaxPixels ||
        heif_image_get_bits_per_pixel(decoded.get(), heif_channel_interleaved) != 8 * channels ||
        stride < width * channels)
        return MakeError(ErrorKind::BadHeader, "HEIF: unreadable picture");

    QImage picture = NewPicture(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (picture.isNull()) return MakeError(ErrorKind::Io, "HEIF: out of memory");
    const bool premultiplied = alpha && heif_image_is_premultiplied_alpha(decoded.get()) != 0;
    uchar* out = picture.bits();
    const qsizetype outStride = picture.bytesPerLine();
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = plane + static_cast<std::ptrdiff_t>(y) * stride;
        auto* row = reinterpret_cast<QRgb*>(out + y * outStride);
        if (!alpha) {
            for (int x = 0; x < width; ++x, in += 3)
                row[x] = qRgb(in[0], in[1], in[2]);
        } else if (!premultiplied) {
            for (int x = 0; x < width; ++x, in += 4)
                row[x] = qRgba(in[0], in[1], in[2], in[3]);
        } else {
            for (int x = 0; x < width; ++x, in += 4)
                row[x] = qUnpremultiply(qRgba(in[0], in[1], in[2], in[3]));
        }
    }
    picture.setColorSpace(ColourSpaceOf(handle, decoded.get()));
    return picture;
}

// Whether `thumbnail` is `shown` scaled with each side rounded: |tw·h − th·w| stays within
// (w + h) / 2 then, and a crop of even a few rows goes well past it.
bool SameProportions(QSize shown, QSize thumbnail)
{
    const std::int64_t cross =
        std::int64_t{thumbnail.width()} * shown.height() - std::int64_t{thumbnail.height()} * shown.width();
    return 2 * std::abs(cross) <= std::int64_t{shown.width()} + shown.height();
}

bool Fits(QSize shown, QSize needed, QSize thumbnail)
{
    return thumbnail.width() >= needed.width() && thumbnail.height() >= needed.height() &&
           SameProportions(shown, thumbnail);
}

// The smallest of the primary image's own thumbnails that can stand for it at `needed`; an
// error when none can, or when the one chosen turns out other than it declared.
Result<QImage> EmbeddedThumbnail(const heif_image_handle* primary, QSize shown, QSize needed)
{
    const int count = heif_image_handle_get_number_of_thumbnails(primary);
    if (count <= 0) return MakeError(ErrorKind::Unsupported, "HEIF: no thumbnail");
    std::vector<heif_item_id> ids(static_cast<std::size_t>(count));
    ids.resize(static_cast<std::size_t>(heif_image_handle_get_list_of_thumbnail_IDs(primary, ids.data(), count)));
    const bool alpha = heif_image_handle_has_alpha_channel(primary) != 0;
    Handle best;
    for (const heif_item_id id : ids) {
        heif_image_handle* raw = nullptr;
        const heif_error error = heif_image_handle_get_thumbnail(primary, id, &raw);
        Handle candidate(raw);
        if (error.code != heif_error_Ok || !candidate) continue;
        const QSize size = DeclaredSize(candidate.get());
        if (!Fits(shown, needed, size) || (heif_image_handle_has_alpha_channel(candidate.get()) != 0) != alpha)
            continue;
        if (!best || size.width() < DeclaredSize(best.get()).width()) best = std::move(candidate);
    }
    if (!best) return MakeError(ErrorKind::Unsupported, "HEIF: no thumbnail of the picture's proportions");
    Result<QImage> decoded = DecodeHandle(best.get());
    if (decoded && !Fits(shown, needed, decoded.value().size()))
        return MakeError(ErrorKind::BadHeader, "HEIF: the thumbnail is not the size it declares");
    return decoded;
}

}  // namespace

Result<QImage> DecodeHeif(std::span<const std::uint8_t> bytes)
{
    Result<Opened> opened = Open(bytes);
    if (!opened) return opened.error();
    return DecodeHandle(opened.value().primary.get());
}

Result<QSize> HeifSize(std::span<const std::uint8_t> bytes)
{
    Result<Opened> opened = Open(bytes);
    if (!opened) return opened.error();
    const QSize shown = DeclaredSize(opened.value().primary.get());
    if (shown.width() <= 0 || shown.height() <= 0)
        return MakeError(ErrorKind::BadHeader, "HEIF: picture without a size");
    return shown;
}

Result<QImage> DecodeHeifThumbnail(std::span<const std::uint8_t> bytes, int box)
{
    Result<Opened> opened = Open(bytes);
    if (!opened) return opened.error();
    const heif_image_handle* primary = opened.value().primary.get();
    Result<QSize> shown = BoundedSize(primary);
    if (!shown) return shown.error();
    const QSize size = ThumbnailSize(shown.value().width(), shown.value().height(), box);
    if (size.width() <= 0 || size.height() <= 0)
        return MakeError(ErrorKind::Unsupported, "picture too thin for a thumbnail");
    Result<QImage> embedded = EmbeddedThumbnail(primary, shown.value(), size);
    if (embedded) return ScaleThumbnail(std::move(embedded), size);
    return ScaleThumbnail(DecodeHandle(primary), size);
}

}  // namespace quillix::imaging
