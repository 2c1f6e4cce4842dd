#include "cli/quillix_crypt.h"
#include "container/sealed_container.h"
#include "support/hex.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace quillix::cli {
namespace {

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

CliRun Cli(std::vector<std::string> args)
{
    std::ostringstream out, err;
    const int status = RunQuillixCrypt(args, out, err);
    return {status, out.str(), err.str()};
}

TEST(QuillixCrypt, InfoLinePerFile)
{
    test::TempDir dir;
    auto sealed = container::SealContainer(test::Bytes("pixels"), "pw", "a.jpg", {2, false, 1});
    ASSERT_TRUE(sealed.ok());
    test::WriteFile(dir / "$a.jpg", sealed.value());
    test::WriteFile(dir / "plain.jpg", std::string(200, 'x'));
    test::WriteFile(dir / "short.jpg", "QLX1");

    const CliRun run = Cli({"info", dir / "$a.jpg", dir / "missing.jpg", dir / "plain.jpg", dir / "short.jpg"});
    EXPECT_EQ(run.status, kExitFailed) << "the missing file fails, the others are still answered";
    EXPECT_EQ(run.out, dir / "$a.jpg" + ": version=2  alg=2  iters=200000  encBytes=6\n" +
                           dir / "plain.jpg" + ": not a container\n" + dir / "short.jpg" + ": not a container\n");
    EXPECT_NE(run.err.find("missing.jpg: No such file or directory"), std::string::npos) << run.err;

    EXPECT_EQ(Cli({"info", dir / "plain.jpg"}).status, kExitOk);
}

TEST(QuillixCrypt, UsageErrorsAndHelp)
{
    EXPECT_EQ(Cli({}).status, kExitUsage);
    EXPECT_EQ(Cli({"info"}).status, kExitUsage);
    EXPECT_EQ(Cli({"frobnicate", "x"}).status, kExitUsage);
    const CliRun help = Cli({"--help"});
    EXPECT_EQ(help.status, kExitOk);
    EXPECT_NE(help.out.find("Usage: quillix-crypt"), std::string::npos);
    EXPECT_EQ(Cli({"--version"}).out.rfind("quillix-crypt ", 0), 0u);
}

}  // namespace
}  // namespace quillix::cli
