#include "gallery/thumbnail_maker.h"

#include "common/paths.h"
#include "container/container_file.h"
#include "container/file_ops.h"
#include "crypto/secure.h"
#include "gallery/gallery_art.h"
#include "gallery/tile_layout.h"
#include "imaging/image_file.h"
#include "imaging/image_format.h"
#include "imaging/secure_picture.h"
#include "imaging/thumbnail.h"

#include <exception>
#include <span>

namespace quillix::gallery {
namespace {

int WellEdge(int tileSize)
{
    return tileSize - 2 * kTileInset;
}

Thumbnail Placeholder(int tileSize)
{
    QImage image = PlaceholderThumbnail(tileSize);
    if (image.isNull()) return {};
    return {ThumbnailKind::Placeholder, std::move(image)};
}

Thumbnail Decode(imaging::ImageFormat format, std::span<const std::uint8_t> bytes, int tileSize)
{
    Result<QImage> decoded = imaging::DecodeThumbnail(format, bytes, WellEdge(tileSize));
    if (!decoded || decoded.value().isNull()) return {};
    return {ThumbnailKind::Picture, std::move(decoded).value()};
}

// A "$" name, or a strong container under any name.
bool IsContainerPath(const std::string& path)
{
    return FileNameOf(path).starts_with('$') || container::IsStrongContainer(path);
}

Thumbnail MakeOrThrow(const ThumbnailRequest& request)
{
    // The format comes from the name alone, as it does for the viewer's "$" files: a container
    // named .jpg that holds a PNG gets the placeholder.
    const imaging::ImageFormat format = imaging::FormatFromExtension(request.path);
    const bool encrypted = IsContainerPath(request.path);
    if (!encrypted) {
        if (format == imaging::ImageFormat::Unknown) return {};
        Result<std::vector<std::uint8_t>> bytes = imaging::ReadImageFile(request.path);
        if (!bytes) return {};
        return Decode(format, bytes.value(), request.tileSize);
    }
    if (request.password.empty() || format == imaging::ImageFormat::Unknown) return Placeholder(request.tileSize);
    Result<crypto::SecureBytes> plain =
        container::DecryptContainerFile(request.path, request.password, request.fileNamePW);
    if (!plain) return Placeholder(request.tileSize);
    const imaging::ContainerPixels pixels;
    Thumbnail made = Decode(format, plain.value(), request.tileSize);
    if (made.kind != ThumbnailKind::Picture) return Placeholder(request.tileSize);
    return made;
}

}  // namespace

QImage PlaceholderThumbnail(int tileSize)
{
    const int edge = WellEdge(tileSize);
    if (edge <= 0) return {};
    return PlaceholderPicture().scaled(edge, edge, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

Thumbnail MakeThumbnail(const ThumbnailRequest& request)
{
    try {
        return MakeOrThrow(request);
    } catch (const std::exception&) {
        // Out of memory on a huge picture, say: the tile stays as it would for a damaged file.
        const bool encrypted = IsContainerPath(request.path);
        return encrypted ? Placeholder(request.tileSize) : Thumbnail{};
    }
}

}  // namespace quillix::gallery
