#pragma once

#include "support/exif_fixture.h"

#include <webp/encode.h>
#include <webp/mux.h>
#include <zlib.h>

#include <QByteArray>
#include <QImage>

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

// Pictures carrying colour information, made in code: an ICC profile in a JPEG's APP2 marker, a
// PNG's iCCP, sRGB, gAMA and cHRM chunks, and a WebP's ICCP chunk.
namespace quillix::test {

inline std::vector<std::uint8_t> Bytes(const QByteArray& data)
{
    return {reinterpret_cast<const std::uint8_t*>(data.constData()),
            reinterpret_cast<const std::uint8_t*>(data.constData()) + data.size()};
}

// `jpeg` with `profile` in one APP2 marker, as ICC.1 Annex B lays it out.
inline std::vector<std::uint8_t> JpegWithProfile(const std::vector<std::uint8_t>& jpeg,
                                                 const std::vector<std::uint8_t>& profile)
{
    constexpr std::string_view kSignature{"ICC_PROFILE\0", 12};
    std::vector<std::uint8_t> payload(kSignature.begin(), kSignature.end());
    payload.insert(payload.end(), {1, 1});  // marker 1 of 1
    payload.insert(payload.end(), profile.begin(), profile.end());
    return WithSegment(jpeg, 0xE2, payload);
}

inline void PutBe32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// `png` with a chunk inserted right after its IHDR, where colour chunks belong.
inline std::vector<std::uint8_t> PngWithChunk(const std::vector<std::uint8_t>& png, std::string_view type,
                                              const std::vector<std::uint8_t>& data)
{
    constexpr std::size_t kAfterHeader = 8 + 12 + 13;
    std::vector<std::uint8_t> chunk;
    PutBe32(chunk, static_cast<std::uint32_t>(data.size()));
    chunk.insert(chunk.end(), type.begin(), type.end());
    chunk.insert(chunk.end(), data.begin(), data.end());
    PutBe32(chunk, static_cast<std::uint32_t>(crc32(0, chunk.data() + 4, static_cast<uInt>(chunk.size() - 4))));
    std::vector<std::uint8_t> out(png.begin(), png.begin() + kAfterHeader);
    out.insert(out.end(), chunk.begin(), chunk.end());
    out.insert(out.end(), png.begin() + kAfterHeader, png.end());
    return out;
}

// The data of an iCCP chunk: a name, compression method 0, the profile deflated.
inline std::vector<std::uint8_t> IccpData(const std::vector<std::uint8_t>& profile)
{
    std::vector<std::uint8_t> data{'I', 'C', 'C', 0, 0};
    uLongf size = compressBound(static_cast<uLong>(profile.size()));
    std::vector<std::uint8_t> deflated(size);
    compress2(deflated.data(), &size, profile.data(), static_cast<uLong>(profile.size()), 9);
    data.insert(data.end(), deflated.begin(), deflated.begin() + static_cast<long>(size));
    return data;
}

// PNG's fixed-point numbers: the value times 100000.
inline std::vector<std::uint8_t> FixedPoints(std::initializer_list<double> values)
{
    std::vector<std::uint8_t> data;
    for (const double v : values)
        PutBe32(data, static_cast<std::uint32_t>(v * 100000 + 0.5));
    return data;
}

// A lossless WebP of `picture` (Format_ARGB32) with `profile` in an ICCP chunk.
inline std::vector<std::uint8_t> WebPWithProfile(const QImage& picture, const std::vector<std::uint8_t>& profile)
{
    const QImage argb = picture.convertToFormat(QImage::Format_ARGB32);
    std::uint8_t* encoded = nullptr;
    const std::size_t size = WebPEncodeLosslessBGRA(argb.constBits(), argb.width(), argb.height(),
                                                    static_cast<int>(argb.bytesPerLine()), &encoded);
    const std::unique_ptr<std::uint8_t, decltype(&WebPFree)> owned(encoded, &WebPFree);
    const std::unique_ptr<WebPMux, decltype(&WebPMuxDelete)> mux(WebPMuxNew(), &WebPMuxDelete);
    const WebPData image{encoded, size};
    const WebPData icc{profile.data(), profile.size()};
    WebPData assembled{};
    if (size == 0 || WebPMuxSetImage(mux.get(), &image, 1) != WEBP_MUX_OK ||
        WebPMuxSetChunk(mux.get(), "ICCP", &icc, 1) != WEBP_MUX_OK ||
        WebPMuxAssemble(mux.get(), &assembled) != WEBP_MUX_OK)
        return {};
    std::vector<std::uint8_t> out(assembled.bytes, assembled.bytes + assembled.size);
    WebPDataClear(&assembled);
    return out;
}

}  // namespace quillix::test
