#include "settings/text_file.h"

#include "common/temp_file.h"
#include "common/unique_fd.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace quillix::settings {

TextFile ReadTextFile(const std::string& path)
{
    TextFile file;
    const UniqueFd fd = OpenFile(path, O_RDONLY | O_NONBLOCK);
    if (!fd) {
        file.status = errno == ENOENT ? ReadStatus::Missing : ReadStatus::Failed;
        return file;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return file;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            file.text.clear();
            return file;
        }
        if (n == 0) break;
        file.text.append(buffer, static_cast<std::size_t>(n));
    }
    file.status = ReadStatus::Ok;
    return file;
}

bool ReplaceTextFile(const std::string& path, const std::string& text, mode_t newFileMode)
{
    std::string target = path;
    std::error_code ec;
    if (std::filesystem::is_symlink(path, ec)) {
        const std::filesystem::path resolved = std::filesystem::canonical(path, ec);
        if (!ec) target = resolved.string();
    }
    mode_t mode = newFileMode;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode) || ::access(target.c_str(), W_OK) != 0) return false;
        mode = st.st_mode & 0777;
    }
    return WriteFileAtomically(target, text, mode).ok();
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(std::move(line));
            line.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(std::move(line));
    return lines;
}

}  // namespace quillix::settings
