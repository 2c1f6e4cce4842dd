#include "cli/quillix_crypt.h"
#include "crypto/secure_memory.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    quillix::crypto::ProtectProcessMemory();
    std::ios::sync_with_stdio(false);  // `cat` pushes whole pictures through std::cout
    const std::vector<std::string> args(argv + 1, argv + argc);
    return quillix::cli::RunQuillixCrypt(args, quillix::cli::ProcessEnvironment());
}
