#pragma once

#include "common/result.h"
#include "support/temp_dir.h"
#include "support/test_images.h"

#include <QImage>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// Picture files for tests that need some picture in a folder, written by the independent
// encoders of test_images.h.
namespace quillix::test {

inline QImage Filled(int width, int height, QRgb colour)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// A fixture the encoder refuses is a broken test, so this throws and fails it loudly.
inline std::vector<std::uint8_t> ValueOrThrow(Result<std::vector<std::uint8_t>> encoded)
{
    if (!encoded) throw std::runtime_error("encoding a fixture failed: " + encoded.error().message);
    return std::move(encoded).value();
}

inline void WriteJpeg(const std::string& path, int width = 64, int height = 48, QRgb colour = qRgb(200, 80, 40))
{
    WriteFile(path, JpegFixture(Filled(width, height, colour), 90));
}

inline void WritePng(const std::string& path, int width, int height, QRgb colour = qRgb(40, 160, 90))
{
    PngPlan plan;
    plan.width = width;
    plan.height = height;
    plan.sample = [colour](int, int, int channel) {
        return channel == 0 ? qRed(colour) : channel == 1 ? qGreen(colour) : qBlue(colour);
    };
    WriteFile(path, PngFixture(plan));
}

}  // namespace quillix::test
