#pragma once

#include "imaging/image_format.h"
#include "imaging/picture_facts.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace quillix::container {
class FileCrypto;
}

// What the gallery's "Properties" box tells about one file, plain or encrypted.
namespace quillix::imaging {

enum class PictureAccess {
    Plain,          // not encrypted: the facts come from the file itself
    Opened,         // a container the run's password opened, in memory only
    NoPassword,     // a container, and no password has been entered
    WrongPassword,  // a container the password does not open (or a damaged one: the two look alike)
};

struct PictureProperties {
    std::string name;
    // Why the file could not be looked at; empty when it could. Nothing below holds then.
    std::string failure;
    std::uint64_t bytes = 0;
    std::time_t modified = 0;
    PictureAccess access = PictureAccess::Plain;
    bool strong = false;
    // The container's header fields as one line; empty for a plain file.
    std::string header;
    // The format a container's name gives, shown until it is opened.
    ImageFormat namedFormat = ImageFormat::Unknown;
    PictureFacts facts;
};

// Looks at `path`: a plain file's headers, or a container ("$" name, or a strong container under
// any name) decrypted in guarded memory with the run's password, never asking for one and never
// writing anything. A "$" name on a file without a container's header is a plain file. Never throws.
PictureProperties GatherProperties(const std::string& path, const container::FileCrypto& crypto);

// The box's lines: name, format, the header of a container, dimensions (or why a container's
// are unknown), file size, modification time in local time, and camera and date taken when known.
std::vector<std::string> PropertiesLines(const PictureProperties& properties);

// "0 bytes", "512 bytes", "1.50 KB (1,536 bytes)", "4.21 MB (4,412,345 bytes)".
std::string SizeText(std::uint64_t bytes);

}  // namespace quillix::imaging
