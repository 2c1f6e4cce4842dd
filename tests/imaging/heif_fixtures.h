#pragma once

#include <libheif/heif.h>

#include <QByteArray>
#include <QImage>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// HEIC and AVIF files made in code by libheif's own encoders (x265 and aom), small enough for
// tests and fuzz seeds.
namespace quillix::test {

struct HeifPlan {
    QImage picture;  // the stored pixels; alpha is written when it has an alpha channel
    heif_compression_format codec = heif_compression_HEVC;
    int quality = 92;
    int bitDepth = 8;                                        // 10 or 12: samples widened from the picture's 8 bits
    heif_orientation orientation = heif_orientation_normal;  // written as irot/imir boxes
    int thumbnailBox = 0;                                    // > 0: a thumbnail of the picture fitted into this square
    QImage foreignThumbnail;                        // not null: assigned as the thumbnail, whatever its proportions
    std::optional<heif_color_primaries> primaries;  // with `transfer`: an nclx colr box
    heif_transfer_characteristics transfer = heif_transfer_characteristic_IEC_61966_2_1;
    QByteArray icc;  // not empty: a prof colr box
};

namespace heif_fixture {

inline void Check(const heif_error& error, const char* what)
{
    if (error.code != heif_error_Ok)
        throw std::runtime_error(std::string("heif fixture: ") + what + ": " + (error.message ? error.message : ""));
}

struct ContextFree {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct EncoderRelease {
    void operator()(heif_encoder* e) const { heif_encoder_release(e); }
};
struct ImageRelease {
    void operator()(heif_image* i) const { heif_image_release(i); }
};
struct HandleRelease {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct OptionsFree {
    void operator()(heif_encoding_options* o) const { heif_encoding_options_free(o); }
};
struct NclxFree {
    void operator()(heif_color_profile_nclx* n) const { heif_nclx_color_profile_free(n); }
};

using Image = std::unique_ptr<heif_image, ImageRelease>;

inline Image ToHeifImage(const QImage& source, int bitDepth)
{
    const bool alpha = source.hasAlphaChannel();
    const QImage picture = source.convertToFormat(QImage::Format_ARGB32);
    const bool wide = bitDepth > 8;
    const heif_chroma chroma = wide ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
                                    : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    heif_image* raw = nullptr;
    Check(heif_image_create(picture.width(), picture.height(), heif_colorspace_RGB, chroma, &raw), "create");
    Image image(raw);
    Check(heif_image_add_plane(image.get(), heif_channel_interleaved, picture.width(), picture.height(), bitDepth),
          "plane");
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    const int channels = alpha ? 4 : 3;
    for (int y = 0; y < picture.height(); ++y) {
        std::uint8_t* out = plane + static_cast<std::ptrdiff_t>(y) * stride;
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb p = picture.pixel(x, y);
            const int samples[4] = {qRed(p), qGreen(p), qBlue(p), qAlpha(p)};
            for (int c = 0; c < channels; ++c) {
                if (!wide) {
                    *out++ = static_cast<std::uint8_t>(samples[c]);
                    continue;
                }
                const int max = (1 << bitDepth) - 1;
                const int v = (samples[c] * max + 127) / 255;
                *out++ = static_cast<std::uint8_t>(v & 0xFF);
                *out++ = static_cast<std::uint8_t>(v >> 8);
            }
        }
    }
    return image;
}

inline heif_error AppendBytes(heif_context*, const void* data, std::size_t size, void* userdata)
{
    auto* out = static_cast<std::vector<std::uint8_t>*>(userdata);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

}  // namespace heif_fixture

// The file `plan` describes; throws when libheif cannot make it.
inline std::vector<std::uint8_t> EncodeHeif(const HeifPlan& plan)
{
    using namespace heif_fixture;
    std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
    heif_encoder* rawEncoder = nullptr;
    Check(heif_context_get_encoder_for_format(context.get(), plan.codec, &rawEncoder), "encoder");
    std::unique_ptr<heif_encoder, EncoderRelease> encoder(rawEncoder);
    Check(heif_encoder_set_lossy_quality(encoder.get(), plan.quality), "quality");
    // Above 8 bits libheif 1.15 asks aom for its profile 2, which aom can only write as 4:2:2.
    if (plan.codec == heif_compression_AV1 && plan.bitDepth > 8)
        Check(heif_encoder_set_parameter_string(encoder.get(), "chroma", "422"), "chroma");

    Image image = ToHeifImage(plan.picture, plan.bitDepth);
    if (plan.primaries) {
        std::unique_ptr<heif_color_profile_nclx, NclxFree> nclx(heif_nclx_color_profile_alloc());
        Check(heif_nclx_color_profile_set_color_primaries(nclx.get(), static_cast<std::uint16_t>(*plan.primaries)),
              "primaries");
        Check(
            heif_nclx_color_profile_set_transfer_characteristics(nclx.get(), static_cast<std::uint16_t>(plan.transfer)),
            "transfer");
        Check(heif_nclx_color_profile_set_matrix_coefficients(nclx.get(), heif_matrix_coefficients_ITU_R_BT_601_6),
              "matrix");
        nclx->full_range_flag = 1;
        Check(heif_image_set_nclx_color_profile(image.get(), nclx.get()), "nclx");
    }
    if (!plan.icc.isEmpty())
        Check(heif_image_set_raw_color_profile(image.get(), "prof", plan.icc.constData(),
                                               static_cast<std::size_t>(plan.icc.size())),
              "icc");

    std::unique_ptr<heif_encoding_options, OptionsFree> options(heif_encoding_options_alloc());
    options->image_orientation = plan.orientation;
    options->macOS_compatibility_workaround_no_nclx_profile = 0;
    // The nclx set on the image is written as it stands.
    heif_image_handle* rawHandle = nullptr;
    Check(heif_context_encode_image(context.get(), image.get(), encoder.get(), options.get(), &rawHandle), "encode");
    heif_image_handle_release(rawHandle);
    heif_image_handle* rawPrimary = nullptr;
    Check(heif_context_get_primary_image_handle(context.get(), &rawPrimary), "primary");
    std::unique_ptr<heif_image_handle, HandleRelease> primary(rawPrimary);

    if (plan.thumbnailBox > 0) {
        heif_image_handle* rawThumb = nullptr;
        Check(heif_context_encode_thumbnail(context.get(), image.get(), primary.get(), encoder.get(), options.get(),
                                            plan.thumbnailBox, &rawThumb),
              "thumbnail");
        heif_image_handle_release(rawThumb);
    }
    if (!plan.foreignThumbnail.isNull()) {
        Image thumb = ToHeifImage(plan.foreignThumbnail, plan.bitDepth);
        heif_image_handle* rawThumb = nullptr;
        Check(heif_context_encode_image(context.get(), thumb.get(), encoder.get(), options.get(), &rawThumb),
              "foreign thumbnail");
        std::unique_ptr<heif_image_handle, HandleRelease> thumbHandle(rawThumb);
        // libheif 1.15 writes the 'thmb' reference from its first handle to its second.
        Check(heif_context_assign_thumbnail(context.get(), thumbHandle.get(), primary.get()), "assign thumbnail");
    }

    std::vector<std::uint8_t> bytes;
    heif_writer writer{1, AppendBytes};
    Check(heif_context_write(context.get(), &writer, &bytes), "write");
    return bytes;
}

// The file with the size of every 'ispe' box replaced: the header then claims that size while
// the coded picture stays small.
inline std::vector<std::uint8_t> WithClaimedSize(std::vector<std::uint8_t> bytes, std::uint32_t width,
                                                 std::uint32_t height)
{
    int found = 0;
    for (std::size_t i = 4; i + 16 <= bytes.size(); ++i) {
        if (bytes[i] != 'i' || bytes[i + 1] != 's' || bytes[i + 2] != 'p' || bytes[i + 3] != 'e') continue;
        for (int k = 0; k < 4; ++k) {
            bytes[i + 8 + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(width >> (24 - 8 * k));
            bytes[i + 12 + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(height >> (24 - 8 * k));
        }
        ++found;
    }
    if (found == 0) throw std::runtime_error("heif fixture: no ispe box");
    return bytes;
}

}  // namespace quillix::test
