#include "imaging/colour_profile.h"

#include "imaging/secure_picture.h"

#include <QByteArray>
#include <QColor>
#include <QColorTransform>

#include <algorithm>
#include <array>
#include <cmath>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quillix::imaging {
namespace {

// Linear light 1.0 in the tables: fine enough that the darkest sRGB steps (1/3294 of full light
// apart) stay apart, small enough that three contributions add up in 16 bits.
constexpr int kOne = 1 << 13;

using Contribution = std::array<std::int16_t, 4>;  // to sRGB's R, G, B in linear light; unused

// A matrix-shaper conversion in integers: each stored channel value's linear light already
// multiplied into the three sRGB channels, so a pixel costs three lookups and two additions
// before the sRGB curve. About three times as fast as QImage::convertToColorSpace on one core.
struct Conversion {
    alignas(16) std::array<std::array<Contribution, 256>, 3> contribution;  // red, green, blue
};

const std::array<std::uint8_t, kOne + 1>& SrgbCurve()
{
    static const std::array<std::uint8_t, kOne + 1> curve = [] {
        std::array<std::uint8_t, kOne + 1> table{};
        for (int i = 0; i <= kOne; ++i) {
            const double linear = static_cast<double>(i) / kOne;
            const double encoded = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
            table[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(std::lround(encoded * 255));
        }
        return table;
    }();
    return curve;
}

// Qt evaluates the source's curves and its matrix to linear sRGB; the tables are built from them.
Conversion ConversionFrom(const QColorSpace& space)
{
    const QColorSpace linear = space.withTransferFunction(QColorSpace::TransferFunction::Linear);
    const QColorTransform curves = space.transformationToColorSpace(linear);
    const QColorTransform primaries = linear.transformationToColorSpace(QColorSpace::SRgbLinear);
    std::array<std::array<double, 3>, 3> matrix{};
    for (std::size_t column = 0; column < 3; ++column) {
        const QColor unit = primaries.map(QColor::fromRgbF(column == 0, column == 1, column == 2));
        matrix[0][column] = unit.redF();
        matrix[1][column] = unit.greenF();
        matrix[2][column] = unit.blueF();
    }
    // Qt hands the columns out as half floats. White stays white in every conversion between
    // matrix-shaper spaces, so each row sums to one; scaling it to do so takes most of the
    // rounding away.
    for (auto& row : matrix) {
        const double sum = row[0] + row[1] + row[2];
        if (std::abs(sum - 1) < 0.01)
            for (double& v : row)
                v /= sum;
    }
    Conversion conversion{};
    for (int value = 0; value < 256; ++value) {
        const auto level = static_cast<quint16>(value * 257);
        const QRgba64 light = curves.map(QRgba64::fromRgba64(level, level, level, 65535));
        const std::array<double, 3> channel{light.red() / 65535.0, light.green() / 65535.0, light.blue() / 65535.0};
        for (std::size_t from = 0; from < 3; ++from)
            for (std::size_t to = 0; to < 3; ++to) {
                const long scaled = std::lround(matrix[to][from] * channel[from] * kOne);
                conversion.contribution[from][static_cast<std::size_t>(value)][to] =
                    static_cast<std::int16_t>(std::clamp(scaled, -32767L, 32767L));
            }
    }
    return conversion;
}

QRgb ConvertPixel(const Conversion& c, const std::array<std::uint8_t, kOne + 1>& curve, QRgb p)
{
    const Contribution& r = c.contribution[0][qRed(p)];
    const Contribution& g = c.contribution[1][qGreen(p)];
    const Contribution& b = c.contribution[2][qBlue(p)];
    const auto encode = [&curve](int sum) -> QRgb { return curve[static_cast<std::size_t>(std::clamp(sum, 0, kOne))]; };
    return (p & 0xFF000000u) | encode(r[0] + g[0] + b[0]) << 16 | encode(r[1] + g[1] + b[1]) << 8 |
           encode(r[2] + g[2] + b[2]);
}

void ConvertRow(const Conversion& c, QRgb* row, int width)
{
    const std::array<std::uint8_t, kOne + 1>& curve = SrgbCurve();
    int x = 0;
#if defined(__SSE2__)
    // Two pixels at a time: their six contributions added with saturation, which only extreme
    // out-of-gamut colours reach, then clamped to the curve's range.
    const __m128i zero = _mm_setzero_si128(), one = _mm_set1_epi16(kOne);
    const auto pair = [&c](std::size_t channel, QRgb p0, QRgb p1, int shift) {
        const Contribution& first = c.contribution[channel][(p0 >> shift) & 0xFF];
        const Contribution& second = c.contribution[channel][(p1 >> shift) & 0xFF];
        return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(first.data())),
                                  _mm_loadl_epi64(reinterpret_cast<const __m128i*>(second.data())));
    };
    for (; x + 2 <= width; x += 2) {
        const QRgb p0 = row[x], p1 = row[x + 1];
        __m128i sum = _mm_adds_epi16(_mm_adds_epi16(pair(0, p0, p1, 16), pair(1, p0, p1, 8)), pair(2, p0, p1, 0));
        sum = _mm_min_epi16(_mm_max_epi16(sum, zero), one);
        alignas(16) std::array<std::uint16_t, 8> v;
        _mm_store_si128(reinterpret_cast<__m128i*>(v.data()), sum);
        row[x] = (p0 & 0xFF000000u) | QRgb{curve[v[0]]} << 16 | QRgb{curve[v[1]]} << 8 | curve[v[2]];
        row[x + 1] = (p1 & 0xFF000000u) | QRgb{curve[v[4]]} << 16 | QRgb{curve[v[5]]} << 8 | curve[v[6]];
    }
#endif
    for (; x < width; ++x)
        row[x] = ConvertPixel(c, curve, row[x]);
}

// Bands of rows on a few threads of their own: the caller is usually a worker of the pool
// already, and waiting on the pool from there could wait on itself.
void ConvertRows(const Conversion& c, uchar* bits, qsizetype stride, int width, int height)
{
    const auto rows = [&c, bits, stride, width](int first, int end) {
        for (int y = first; y < end; ++y)
            ConvertRow(c, reinterpret_cast<QRgb*>(bits + stride * y), width);
    };
    constexpr std::int64_t kPixelsPerBand = std::int64_t{1} << 21;
    const std::int64_t wanted = std::int64_t{width} * height / kPixelsPerBand;
    const int cores = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
    const int bands = static_cast<int>(std::clamp<std::int64_t>(wanted, 1, cores));
    std::vector<std::thread> helpers;
    for (int band = 1; band < bands; ++band) {
        const int first = height * band / bands, end = height * (band + 1) / bands;
        try {
            helpers.emplace_back(rows, first, end);
        } catch (const std::system_error&) {
            rows(first, end);
        }
    }
    rows(0, height / bands);
    for (std::thread& helper : helpers)
        helper.join();
}

}  // namespace

void ShowInSrgb(QImage& image)
{
    if (image.isNull()) return;
    const QColorSpace space = image.colorSpace();
    if (!space.isValid() || space == QColorSpace::SRgb) return;
    const QImage::Format format = image.format();
    // Qt converts other formats into a second full-size picture in ordinary memory first.
    if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32 &&
        format != QImage::Format_ARGB32_Premultiplied)
        return;
    // A shared picture would be copied by Qt to ordinary memory on the first write.
    if (!image.isDetached()) {
        QImage own = CopyPicture(image);
        if (own.isNull()) return;
        image = std::move(own);
    }
    // Small pictures (thumbnails, premultiplied once scaled) cost Qt next to nothing, and building
    // the tables would cost more; Qt transforms a picture it alone holds in its own memory.
    constexpr std::int64_t kTablesFrom = std::int64_t{1} << 18;
    if (format == QImage::Format_ARGB32_Premultiplied || std::int64_t{image.width()} * image.height() < kTablesFrom) {
        image.convertToColorSpace(QColorSpace::SRgb);
        return;
    }
    const Conversion conversion = ConversionFrom(space);
    ConvertRows(conversion, image.bits(), image.bytesPerLine(), image.width(), image.height());
    image.setColorSpace(QColorSpace::SRgb);
}

QColorSpace ColourSpaceFromIcc(std::span<const std::uint8_t> profile)
{
    if (profile.empty()) return {};
    // A deep copy: the colour space keeps the profile's bytes.
    const QByteArray bytes(reinterpret_cast<const char*>(profile.data()), static_cast<qsizetype>(profile.size()));
    return QColorSpace::fromIccProfile(bytes);
}

}  // namespace quillix::imaging
