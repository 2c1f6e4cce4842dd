#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// File access shared by the ini file and the registry file.
namespace quillix::settings {

enum class ReadStatus { Ok, Missing, Failed };

struct TextFile {
    ReadStatus status = ReadStatus::Failed;
    std::string text;
};

// The whole file; Missing when there is nothing at `path`, Failed when it is there but cannot be
// read as a regular file.
TextFile ReadTextFile(const std::string& path);

// Replaces the file at `path` (through a symbolic link, if it is one) with `text`, whole or not
// at all. Fails without touching anything when the existing file is not writable: a rename
// would otherwise get around its permissions. A new file gets `newFileMode`, an existing one
// keeps its mode.
bool ReplaceTextFile(const std::string& path, const std::string& text, mode_t newFileMode);

// CR LF, a lone CR and a lone LF all end a line; a last line without an ending still counts.
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace quillix::settings
