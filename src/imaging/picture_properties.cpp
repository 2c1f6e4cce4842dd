#include "imaging/picture_properties.h"

#include "common/paths.h"
#include "common/unique_fd.h"
#include "container/container_format.h"
#include "container/file_crypto.h"
#include "container/strong_format.h"
#include "crypto/secure_memory.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>

namespace quillix::imaging {
namespace {

// Headers and EXIF lie at a picture's start; a prefix this long holds them in any real file.
constexpr std::uint64_t kFactsPrefix = 16ull << 20;

std::string FailureText(int error)
{
    if (error == ENOENT) return "The file is no longer there";
    return std::string("The file cannot be read: ") + std::strerror(error);
}

// Fills in the header of a container, or leaves `properties` a plain file's.
void ReadHeader(int fd, bool dollarName, PictureProperties& properties)
{
    container::HeaderBytes head{};
    const long long got = ReadAt(fd, head, 0);
    if (got >= static_cast<long long>(container::kStrongHeaderSize) && container::IsStrongHead(head)) {
        properties.strong = true;
        properties.header = container::StrongHeaderInfoText(std::span(head).first<container::kStrongHeaderSize>());
    } else if (dollarName && got == static_cast<long long>(head.size()) &&
               std::equal(container::kMagic.begin(), container::kMagic.end(), head.begin())) {
        properties.header = container::HeaderInfoText(head);
    }
}

PictureProperties GatherOrThrow(const std::string& path, const container::FileCrypto& crypto)
{
    PictureProperties properties;
    properties.name = FileNameOf(path);
    // Without blocking: a pipe with a picture's name is refused rather than waited on.
    const UniqueFd fd = OpenFile(path, O_RDONLY | O_NONBLOCK);
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0) {
        properties.failure = FailureText(errno);
        return properties;
    }
    if (!S_ISREG(st.st_mode)) {
        properties.failure = "Not a regular file";
        return properties;
    }
    properties.bytes = static_cast<std::uint64_t>(st.st_size);
    properties.modified = st.st_mtim.tv_sec;

    ReadHeader(fd.get(), properties.name.starts_with('$'), properties);
    if (properties.header.empty()) {
        std::vector<std::uint8_t> prefix(static_cast<std::size_t>(std::min(properties.bytes, kFactsPrefix)));
        const long long got = ReadAt(fd.get(), prefix, 0);
        if (got < 0) {
            properties.failure = FailureText(errno);
            return properties;
        }
        prefix.resize(static_cast<std::size_t>(got));
        properties.facts = ReadPictureFacts(prefix);
        return properties;
    }

    properties.namedFormat = FormatFromExtension(path);
    if (!crypto.HasPassword()) {
        properties.access = PictureAccess::NoPassword;
        return properties;
    }
    crypto::SecureBytes plain;
    if (!crypto.DecryptToStream(path, plain)) {
        properties.access = PictureAccess::WrongPassword;
        return properties;
    }
    properties.access = PictureAccess::Opened;
    properties.facts = ReadPictureFacts(plain);
    return properties;
}

std::string Grouped(std::uint64_t n)
{
    std::string digits = std::to_string(n);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), 1, ',');
    return digits;
}

std::string LocalTimeText(std::time_t time)
{
    struct tm local {};
    char text[32] = {};
    if (!::localtime_r(&time, &local) || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0)
        return "unknown";
    return text;
}

std::string FormatLine(const PictureProperties& p)
{
    if (p.header.empty()) {
        const std::string name = FormatName(p.facts.format, p.facts.animated);
        return name.empty() ? "not a picture this program shows" : name;
    }
    const std::string kind = p.strong ? "encrypted (strong)" : "encrypted";
    const std::string name =
        p.access == PictureAccess::Opened ? FormatName(p.facts.format, p.facts.animated) : FormatName(p.namedFormat);
    return name.empty() ? kind : name + ", " + kind;
}

std::string DimensionsLine(const PictureProperties& p)
{
    switch (p.access) {
    case PictureAccess::NoPassword: return "Locked: no password has been entered; press Ctrl+Shift+P to type it";
    case PictureAccess::WrongPassword: return "Locked: the password does not open this picture";
    case PictureAccess::Plain:
    case PictureAccess::Opened: break;
    }
    if (p.facts.width > 0)
        return "Dimensions: " + std::to_string(p.facts.width) + " × " + std::to_string(p.facts.height) + " pixels";
    if (p.facts.format == ImageFormat::Unknown) return {};
    return "Dimensions: unreadable, the picture's header is damaged";
}

}  // namespace

PictureProperties GatherProperties(const std::string& path, const container::FileCrypto& crypto)
{
    try {
        return GatherOrThrow(path, crypto);
    } catch (const std::exception& e) {
        // Out of memory on a huge container, say.
        PictureProperties properties;
        properties.name = FileNameOf(path);
        properties.failure = std::string("The file cannot be read: ") + e.what();
        return properties;
    }
}

std::string SizeText(std::uint64_t bytes)
{
    if (bytes < 1024) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    const char* unit = "KB";
    double scaled = static_cast<double>(bytes) / 1024.0;
    for (const char* larger : {"MB", "GB", "TB"}) {
        if (scaled < 1024.0) break;
        scaled /= 1024.0;
        unit = larger;
    }
    char text[32] = {};
    std::snprintf(text, sizeof text, "%.2f %s", scaled, unit);
    return std::string(text) + " (" + Grouped(bytes) + " bytes)";
}

std::vector<std::string> PropertiesLines(const PictureProperties& p)
{
    std::vector<std::string> lines = {"Name: " + p.name};
    if (!p.failure.empty()) {
        lines.push_back(p.failure);
        return lines;
    }
    lines.push_back("Format: " + FormatLine(p));
    if (!p.header.empty()) lines.push_back("Header: " + p.header);
    if (std::string dimensions = DimensionsLine(p); !dimensions.empty()) lines.push_back(std::move(dimensions));
    lines.push_back("File size: " + SizeText(p.bytes));
    lines.push_back("Modified: " + LocalTimeText(p.modified));
    if (!p.facts.camera.empty()) lines.push_back("Camera: " + p.facts.camera);
    if (!p.facts.taken.empty()) lines.push_back("Taken: " + p.facts.taken);
    return lines;
}

}  // namespace quillix::imaging
