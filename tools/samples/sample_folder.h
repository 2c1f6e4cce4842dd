#pragma once

#include "common/result.h"
#include "container/file_ops.h"

#include <string>
#include <vector>

// The sample folder Quillix opens when it is started without a file or folder.
namespace quillix::samples {

// The password the encrypted samples are under.
inline constexpr const char* kSamplePassword = "quillix";

// What a fresh installation encrypts with (the file name in the password text, the fast mode),
// except that the whole file is encrypted.
container::FileOptions SampleEncryptionOptions();

struct SampleFile {
    std::string path;  // "$" + name for the encrypted ones
    bool encrypted = false;
    bool animated = false;
};

// Creates `folder` and its parents, and writes twelve pictures of each format into it (JPEG,
// PNG, GIF, BMP, WebP; one GIF and one WebP animated, some transparent, sizes from 10 × 10 to
// 4000 × 3000), then encrypts five of them in place under kSamplePassword with
// SampleEncryptionOptions, so that a fresh installation opens them.
// Every run writes the whole set again, replacing the earlier samples and leaving any other file
// alone. Stops at the first failure with an error that names the file.
Result<std::vector<SampleFile>> WriteSampleFolder(const std::string& folder);

}  // namespace quillix::samples
