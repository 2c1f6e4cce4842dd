#include "cli/quillix_crypt.h"

#include "common/unique_fd.h"
#include "container/container_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ostream>

namespace quillix::cli {
namespace {

constexpr const char* kHelp = R"(Usage: quillix-crypt COMMAND [OPTIONS] FILE...

Works on Quillix's encrypted pictures ("$" + name, next to where the plain file was).

Commands:
  info FILE...    one line per file with its container header
                  ("FILE: version=2  alg=0  iters=200000  encBytes=0"),
                  or "FILE: not a container"

Options:
  -h, --help      show this help
  --version       show the version

Exit status: 0 when every file was answered, 1 when one or more could not be read (each
reported on standard error with its reason; the others are still processed), 2 for a
usage error.
)";

int Info(std::span<const std::string> files, std::ostream& out, std::ostream& err)
{
    if (files.empty()) {
        err << "quillix-crypt: info needs at least one FILE\n";
        return kExitUsage;
    }
    int status = kExitOk;
    for (const std::string& file : files) {
        const UniqueFd fd = OpenFile(file, O_RDONLY);
        container::HeaderBytes head{};
        const long long got = fd ? ReadAt(fd.get(), head, 0) : -1;
        if (got < 0) {
            err << file << ": " << std::strerror(errno) << "\n";
            status = kExitFailed;
            continue;
        }
        const bool container = got == static_cast<long long>(head.size()) &&
                               std::equal(container::kMagic.begin(), container::kMagic.end(), head.begin());
        if (container)
            out << file << ": " << container::HeaderInfoText(head) << "\n";
        else
            out << file << ": not a container\n";
    }
    return status;
}

}  // namespace

int RunQuillixCrypt(std::span<const std::string> args, std::ostream& out, std::ostream& err)
{
    if (args.empty()) {
        err << kHelp;
        return kExitUsage;
    }
    const std::string& command = args.front();
    if (command == "-h" || command == "--help") {
        out << kHelp;
        return kExitOk;
    }
    if (command == "--version") {
        out << "quillix-crypt " << QUILLIX_VERSION << "\n";
        return kExitOk;
    }
    if (command == "info") return Info(args.subspan(1), out, err);
    err << "quillix-crypt: unknown command '" << command << "' (see --help)\n";
    return kExitUsage;
}

}  // namespace quillix::cli
