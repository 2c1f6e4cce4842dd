#include "cli/quillix_crypt.h"

#include <string>
#include <vector>

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    return quillix::cli::RunQuillixCrypt(args, quillix::cli::ProcessEnvironment());
}
