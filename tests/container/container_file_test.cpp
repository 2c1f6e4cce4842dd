#include "container/container_file.h"
#include "container/sealed_container.h"
#include "support/hex.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace quillix::container {
namespace {

using test::Bytes;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::vector<std::uint8_t> Sealed(int alg)
{
    auto made = SealContainer(Bytes("picture bytes"), "pw", "/x/a.jpg", {alg, true, 0});
    EXPECT_TRUE(made.ok());
    return made.ok() ? made.value() : std::vector<std::uint8_t>{};
}

TEST(EncryptedFileRecognition, NameOrMarker)
{
    TempDir dir;
    WriteFile(dir / "$notes.jpg", "just text, no container");
    WriteFile(dir / "plain.jpg", "ordinary bytes");
    WriteFile(dir / "tail.jpg", "ends like one$$$C$$$");
    WriteFile(dir / "short.jpg", "$$$B$$");
    const auto aes = Sealed(0), twofish = Sealed(3);
    WriteFile(dir / "aes-renamed.jpg", aes);
    WriteFile(dir / "twofish-renamed.jpg", twofish);

    const std::pair<const char*, bool> rows[] = {
        {"$notes.jpg", true},  // the name alone decides
        {"plain.jpg", false},
        {"tail.jpg", true},  // the marker alone decides
        {"short.jpg", false},
        {"aes-renamed.jpg", false},  // AES has no marker: without "$" it is not
                                     // recognised
        {"twofish-renamed.jpg", true},
        {"$missing.jpg", true},
        {"missing.jpg", false},
    };
    for (const auto& [name, encrypted] : rows)
        EXPECT_EQ(IsEncryptedFile(dir / name), encrypted) << name;
}

TEST(TrailerMarkerFiles, ReadStripSet)
{
    TempDir dir;
    const std::string f = dir / "f.bin";
    WriteFile(f, "body");
    EXPECT_EQ(ReadTrailerMarker(f), 0);
    EXPECT_TRUE(StripTrailerMarker(f)) << "nothing to strip is success";
    EXPECT_EQ(ReadFile(f), Bytes("body"));

    EXPECT_TRUE(SetTrailerMarker(f, 3));
    EXPECT_EQ(ReadFile(f), Bytes("body$$$T$$$"));
    EXPECT_TRUE(SetTrailerMarker(f, 1)) << "a marker replaces the old one";
    EXPECT_EQ(ReadFile(f), Bytes("body$$$B$$$"));
    EXPECT_EQ(ReadTrailerMarker(f), 1);
    EXPECT_TRUE(SetTrailerMarker(f, 0)) << "AES: no marker";
    EXPECT_EQ(ReadFile(f), Bytes("body"));
    EXPECT_TRUE(SetTrailerMarker(f, 2));
    EXPECT_FALSE(SetTrailerMarker(f, 9)) << "unknown cipher fails";
    EXPECT_EQ(ReadFile(f), Bytes("body")) << "after stripping";

    EXPECT_EQ(ReadTrailerMarker(dir / "missing"), 0);
    EXPECT_FALSE(SetTrailerMarker(dir / "missing", 1));
    EXPECT_FALSE(SetTrailerMarker(dir.path(), 1)) << "a folder is not a file";

    if (test::PermissionsAreEnforced()) {
        WriteFile(f, "body$$$C$$$");
        std::filesystem::permissions(f, std::filesystem::perms::owner_read);
        EXPECT_FALSE(StripTrailerMarker(f));
        EXPECT_FALSE(SetTrailerMarker(f, 1));
        EXPECT_EQ(ReadFile(f), Bytes("body$$$C$$$"));
    }
}

TEST(ContainerFiles, HeaderReadingAndInfo)
{
    TempDir dir;
    const auto chacha = Sealed(2);
    WriteFile(dir / "$a.jpg", chacha);
    WriteFile(dir / "plain.jpg", std::vector<std::uint8_t>(100, 'x'));
    WriteFile(dir / "tiny.jpg", "tiny");

    const auto layout = ReadContainerHeader(dir / "$a.jpg");
    ASSERT_TRUE(layout.ok()) << layout.error().message;
    EXPECT_EQ(layout.value().header.alg, 2);
    EXPECT_EQ(layout.value().bodyLength, 13u);

    EXPECT_EQ(ReadContainerHeader(dir / "plain.jpg").error().kind, ErrorKind::BadHeader);
    EXPECT_EQ(ReadContainerHeader(dir / "tiny.jpg").error().kind, ErrorKind::Truncated);
    EXPECT_EQ(ReadContainerHeader(dir / "none.jpg").error().kind, ErrorKind::Io);

    EXPECT_EQ(HeaderInfoOfFile(dir / "$a.jpg"), "version=2  alg=2  iters=20000  encBytes=0");
    EXPECT_TRUE(HeaderInfoOfFile(dir / "plain.jpg").has_value()) << "the magic is not checked";
    EXPECT_FALSE(HeaderInfoOfFile(dir / "tiny.jpg").has_value());
    EXPECT_FALSE(HeaderInfoOfFile(dir / "none.jpg").has_value());
}

}  // namespace
}  // namespace quillix::container
