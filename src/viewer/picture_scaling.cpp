#include "viewer/picture_scaling.h"

#include "crypto/secure.h"
#include "imaging/secure_picture.h"
#include "imaging/still_decoder.h"

#include <cstdint>
#include <vector>

namespace quillix::viewer {
namespace {

constexpr std::uint32_t kOne = 1u << 16;

// For each destination index, the source indices it covers and their weights (summing to kOne):
// destination i covers source [i × ratio, (i + 1) × ratio).
struct Taps {
    std::vector<int> first;
    std::vector<int> count;
    std::vector<std::uint32_t> weights;  // count[i] entries per destination index, in order
    std::vector<std::size_t> offset;
};

Taps MakeTaps(int from, int to)
{
    Taps taps;
    taps.first.resize(static_cast<std::size_t>(to));
    taps.count.resize(static_cast<std::size_t>(to));
    taps.offset.resize(static_cast<std::size_t>(to));
    // Positions in 1/to units of a source pixel: destination i spans [i × from, (i + 1) × from).
    for (int i = 0; i < to; ++i) {
        const std::int64_t begin = static_cast<std::int64_t>(i) * from;
        const std::int64_t end = begin + from;
        const int first = static_cast<int>(begin / to);
        const int last = static_cast<int>((end - 1) / to);
        taps.first[static_cast<std::size_t>(i)] = first;
        taps.count[static_cast<std::size_t>(i)] = last - first + 1;
        taps.offset[static_cast<std::size_t>(i)] = taps.weights.size();
        std::uint32_t given = 0;
        for (int s = first; s <= last; ++s) {
            const std::int64_t covered = std::min<std::int64_t>(end, static_cast<std::int64_t>(s + 1) * to) -
                                         std::max<std::int64_t>(begin, static_cast<std::int64_t>(s) * to);
            std::uint32_t weight = static_cast<std::uint32_t>(covered * kOne / from);
            if (s == last) weight = kOne - given;  // rounding leftovers go to the last tap
            given += weight;
            taps.weights.push_back(weight);
        }
    }
    return taps;
}

inline std::uint32_t Rounded(std::uint32_t sum)
{
    return (sum + kOne / 2) >> 16;
}

enum class Alpha { Opaque, Premultiplied, Straight };

// Every source row shrunk to the destination width: B, G, R, A bytes, premultiplied.
template <Alpha alpha> void ShrinkRows(const QImage& source, const Taps& across, int dw, std::uint8_t* narrow)
{
    for (int y = 0; y < source.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(source.constScanLine(y));
        std::uint8_t* out = narrow + static_cast<std::size_t>(y) * static_cast<std::size_t>(dw) * 4;
        for (int x = 0; x < dw; ++x) {
            const auto i = static_cast<std::size_t>(x);
            const QRgb* in = row + across.first[i];
            const std::uint32_t* weight = across.weights.data() + across.offset[i];
            std::uint32_t b = 0, g = 0, r = 0, a = 0;
            for (int k = 0; k < across.count[i]; ++k) {
                const QRgb p = in[k];
                const std::uint32_t w = weight[k];
                std::uint32_t pb = p & 0xff, pg = (p >> 8) & 0xff, pr = (p >> 16) & 0xff;
                const std::uint32_t pa = p >> 24;
                if constexpr (alpha == Alpha::Straight) {
                    pb = (pb * pa + 127) / 255;
                    pg = (pg * pa + 127) / 255;
                    pr = (pr * pa + 127) / 255;
                }
                b += w * pb;
                g += w * pg;
                r += w * pr;
                if constexpr (alpha != Alpha::Opaque) a += w * pa;
            }
            out[x * 4 + 0] = static_cast<std::uint8_t>(Rounded(b));
            out[x * 4 + 1] = static_cast<std::uint8_t>(Rounded(g));
            out[x * 4 + 2] = static_cast<std::uint8_t>(Rounded(r));
            out[x * 4 + 3] = alpha == Alpha::Opaque ? 255 : static_cast<std::uint8_t>(Rounded(a));
        }
    }
}

}  // namespace

QImage ShrinkImage(const QImage& source, QSize size)
{
    const QImage::Format format = source.format();
    const bool opaque = format == QImage::Format_RGB32;
    const bool supported = opaque || format == QImage::Format_ARGB32 || format == QImage::Format_ARGB32_Premultiplied;
    if (source.isNull() || size.isEmpty() || !supported || size.width() > source.width() ||
        size.height() > source.height())
        return imaging::KeepSecure(source.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));

    const int sw = source.width(), sh = source.height(), dw = size.width(), dh = size.height();
    const bool premultiply = format == QImage::Format_ARGB32;
    const Taps across = MakeTaps(sw, dw);
    const Taps down = MakeTaps(sh, dh);

    // Rows first, then columns: each pass reads its input once.
    std::vector<std::uint8_t> narrow(static_cast<std::size_t>(dw) * static_cast<std::size_t>(sh) * 4);
    if (opaque)
        ShrinkRows<Alpha::Opaque>(source, across, dw, narrow.data());
    else if (premultiply)
        ShrinkRows<Alpha::Straight>(source, across, dw, narrow.data());
    else
        ShrinkRows<Alpha::Premultiplied>(source, across, dw, narrow.data());

    // The rows each destination row covers, weighted, added up.
    QImage result = imaging::NewPicture(dw, dh, opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
    std::vector<std::uint32_t> sum(static_cast<std::size_t>(dw) * 4);
    // What was shrunk so far is a container's picture when the result is one.
    struct WipeWork {
        std::vector<std::uint8_t>& narrow;
        std::vector<std::uint32_t>& sum;
        ~WipeWork()
        {
            if (!imaging::ContainerPixels::Active()) return;
            crypto::SecureWipe(narrow.data(), narrow.size());
            crypto::SecureWipe(sum.data(), sum.size() * sizeof(sum[0]));
        }
    } const wipeWork{narrow, sum};
    if (result.isNull()) return result;
    for (int y = 0; y < dh; ++y) {
        const auto j = static_cast<std::size_t>(y);
        std::fill(sum.begin(), sum.end(), 0u);
        const std::uint32_t* weight = down.weights.data() + down.offset[j];
        for (int k = 0; k < down.count[j]; ++k) {
            const std::uint8_t* in =
                narrow.data() + static_cast<std::size_t>(down.first[j] + k) * static_cast<std::size_t>(dw) * 4;
            for (std::size_t n = 0; n < sum.size(); ++n)
                sum[n] += weight[k] * in[n];
        }
        auto* out = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < dw; ++x) {
            const std::uint32_t* s = sum.data() + static_cast<std::size_t>(x) * 4;
            const std::uint32_t a = opaque ? 255 : Rounded(s[3]);
            out[x] = qRgba(static_cast<int>(Rounded(s[2])), static_cast<int>(Rounded(s[1])),
                           static_cast<int>(Rounded(s[0])), static_cast<int>(a));
        }
    }
    return result;
}

}  // namespace quillix::viewer
