#pragma once

#include <jxl/encode.h>

#include <QByteArray>
#include <QImage>
#include <QPoint>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

// Small JPEG XL files made by libjxl's own encoder.
namespace quillix::test {

struct JxlFixtureFrame {
    JxlFixtureFrame(QImage picture, std::uint32_t duration = 0, std::optional<QPoint> place = {})
        : image(std::move(picture)), ticks(duration), at(place)
    {
    }
    QImage image;              // any format; its alpha is written when the plan asks for alpha
    std::uint32_t ticks = 0;   // duration in ticks of 1 ms
    std::optional<QPoint> at;  // a layer of the image's size placed there, over the frame before
};

struct JxlPlan {
    std::vector<JxlFixtureFrame> frames;  // more than one makes an animation
    bool lossless = true;                 // false: lossy XYB at distance 1
    int effort = 3;                       // 1 fastest .. 9; 7 is what cjxl writes by default
    bool alpha = false;
    bool grey = false;    // written from the green channel
    int orientation = 1;  // 1..8, as EXIF
    std::uint32_t numLoops = 0;
    std::optional<JxlColorEncoding> colour;  // sRGB (or sRGB grey) when neither this nor icc
    QByteArray icc;
};

// Encodes `plan`; throws when libjxl refuses, which is a fault of the fixture.
inline std::vector<std::uint8_t> EncodeJxlFixture(const JxlPlan& plan)
{
    const auto need = [](bool ok, const char* what) {
        if (!ok) throw std::runtime_error(std::string("JPEG XL fixture: ") + what);
    };
    need(!plan.frames.empty(), "no frames");
    std::unique_ptr<JxlEncoder, void (*)(JxlEncoder*)> encoder(JxlEncoderCreate(nullptr), JxlEncoderDestroy);
    JxlEncoder* enc = encoder.get();
    const QImage& first = plan.frames.front().image;
    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = static_cast<std::uint32_t>(first.width());
    info.ysize = static_cast<std::uint32_t>(first.height());
    info.bits_per_sample = 8;
    info.num_color_channels = plan.grey ? 1 : 3;
    info.alpha_bits = plan.alpha ? 8 : 0;
    info.num_extra_channels = plan.alpha ? 1 : 0;
    info.uses_original_profile = plan.lossless ? JXL_TRUE : JXL_FALSE;
    info.orientation = static_cast<JxlOrientation>(plan.orientation);
    if (plan.frames.size() > 1) {
        info.have_animation = JXL_TRUE;
        info.animation.tps_numerator = 1000;
        info.animation.tps_denominator = 1;
        info.animation.num_loops = plan.numLoops;
    }
    need(JxlEncoderSetBasicInfo(enc, &info) == JXL_ENC_SUCCESS, "basic info");
    if (!plan.icc.isEmpty()) {
        need(JxlEncoderSetICCProfile(enc, reinterpret_cast<const std::uint8_t*>(plan.icc.constData()),
                                     static_cast<std::size_t>(plan.icc.size())) == JXL_ENC_SUCCESS,
             "ICC profile");
    } else {
        JxlColorEncoding colour{};
        JxlColorEncodingSetToSRGB(&colour, plan.grey ? JXL_TRUE : JXL_FALSE);
        need(JxlEncoderSetColorEncoding(enc, plan.colour ? &*plan.colour : &colour) == JXL_ENC_SUCCESS, "colour");
    }
    JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(enc, nullptr);
    need(settings != nullptr, "frame settings");
    if (plan.lossless)
        need(JxlEncoderSetFrameLossless(settings, JXL_TRUE) == JXL_ENC_SUCCESS, "lossless");
    else
        need(JxlEncoderSetFrameDistance(settings, 1.0f) == JXL_ENC_SUCCESS, "distance");
    need(JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_EFFORT, plan.effort) == JXL_ENC_SUCCESS,
         "effort");

    const std::uint32_t channels = (plan.grey ? 1u : 3u) + (plan.alpha ? 1u : 0u);
    const JxlPixelFormat format = {channels, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    for (const JxlFixtureFrame& frame : plan.frames) {
        need(frame.at || frame.image.size() == first.size(), "frames of one size");
        if (info.have_animation) {
            JxlFrameHeader header;
            JxlEncoderInitFrameHeader(&header);
            header.duration = frame.ticks;
            if (frame.at) {
                header.layer_info.have_crop = JXL_TRUE;
                header.layer_info.crop_x0 = frame.at->x();
                header.layer_info.crop_y0 = frame.at->y();
                header.layer_info.xsize = static_cast<std::uint32_t>(frame.image.width());
                header.layer_info.ysize = static_cast<std::uint32_t>(frame.image.height());
            }
            need(JxlEncoderSetFrameHeader(settings, &header) == JXL_ENC_SUCCESS, "frame header");
        }
        std::vector<std::uint8_t> samples;
        for (int y = 0; y < frame.image.height(); ++y)
            for (int x = 0; x < frame.image.width(); ++x) {
                const QRgb p = frame.image.pixel(x, y);
                if (plan.grey)
                    samples.push_back(static_cast<std::uint8_t>(qGreen(p)));
                else
                    samples.insert(samples.end(),
                                   {static_cast<std::uint8_t>(qRed(p)), static_cast<std::uint8_t>(qGreen(p)),
                                    static_cast<std::uint8_t>(qBlue(p))});
                if (plan.alpha) samples.push_back(static_cast<std::uint8_t>(qAlpha(p)));
            }
        need(JxlEncoderAddImageFrame(settings, &format, samples.data(), samples.size()) == JXL_ENC_SUCCESS, "frame");
    }
    JxlEncoderCloseInput(enc);

    std::vector<std::uint8_t> out(4096);
    std::size_t used = 0;
    for (;;) {
        std::uint8_t* next = out.data() + used;
        std::size_t room = out.size() - used;
        const JxlEncoderStatus status = JxlEncoderProcessOutput(enc, &next, &room);
        used = static_cast<std::size_t>(next - out.data());
        if (status == JXL_ENC_SUCCESS) break;
        need(status == JXL_ENC_NEED_MORE_OUTPUT, "encoding");
        out.resize(out.size() * 2);
    }
    out.resize(used);
    return out;
}

inline std::vector<std::uint8_t> EncodeJxlFixture(const QImage& image, bool alpha = false)
{
    JxlPlan plan;
    plan.frames = {{image, 0}};
    plan.alpha = alpha;
    return EncodeJxlFixture(plan);
}

namespace jxlbits {

inline std::uint32_t Read(const std::vector<std::uint8_t>& b, std::size_t& at, int n)
{
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i, ++at) {
        if (at / 8 >= b.size()) throw std::runtime_error("JPEG XL fixture: header cut short");
        v |= std::uint32_t((b[at / 8] >> (at % 8)) & 1) << i;
    }
    return v;
}

inline void Write(std::vector<std::uint8_t>& b, std::size_t& at, std::uint32_t v, int n)
{
    for (int i = 0; i < n; ++i, ++at) {
        if (at / 8 >= b.size()) b.push_back(0);
        if ((v >> i) & 1) b[at / 8] |= static_cast<std::uint8_t>(1u << (at % 8));
    }
}

// A dimension as SizeHeader writes it when not a multiple of 8: a selector, then value - 1.
inline std::size_t SkipDimension(const std::vector<std::uint8_t>& b, std::size_t& at)
{
    static constexpr int kBits[] = {9, 13, 18, 30};
    return Read(b, at, kBits[Read(b, at, 2)]);
}

}  // namespace jxlbits

// A bare codestream (as EncodeJxlFixture writes it) whose size header then claims `width` ×
// `height`; everything after the header is kept bit for bit.
inline std::vector<std::uint8_t> JxlClaimingSize(const std::vector<std::uint8_t>& codestream, std::uint32_t width,
                                                 std::uint32_t height)
{
    using namespace jxlbits;
    if (codestream.size() < 2 || codestream[0] != 0xFF || codestream[1] != 0x0A)
        throw std::runtime_error("JPEG XL fixture: not a bare codestream");
    std::size_t at = 16;
    const bool div8 = Read(codestream, at, 1) != 0;
    if (div8)
        Read(codestream, at, 5);
    else
        SkipDimension(codestream, at);
    if (Read(codestream, at, 3) == 0) {
        if (div8)
            Read(codestream, at, 5);
        else
            SkipDimension(codestream, at);
    }
    std::vector<std::uint8_t> out = {0xFF, 0x0A};
    std::size_t put = 16;
    Write(out, put, 0, 1);
    Write(out, put, 3, 2);
    Write(out, put, height - 1, 30);
    Write(out, put, 0, 3);
    Write(out, put, 3, 2);
    Write(out, put, width - 1, 30);
    for (; at < codestream.size() * 8; ++at)
        Write(out, put, (codestream[at / 8] >> (at % 8)) & 1, 1);
    return out;
}

}  // namespace quillix::test
