#include "container/container_format.h"
#include "support/hex.h"

#include <gtest/gtest.h>

#include <numeric>

namespace quillix::container {
namespace {

HeaderBytes ValidHead(std::uint32_t encBytes = 0)
{
    ContainerHeader h;
    std::copy(kMagic.begin(), kMagic.end(), h.magic.begin());
    h.version = 2;
    h.alg = 3;
    h.iters = 20000;
    h.encBytes = encBytes;
    h.headerSize = 84;
    return SerializeContainerHeader(h);
}

TEST(ContainerHeader, FieldOffsetsAndRoundTrip)
{
    ContainerHeader h;
    h.magic = {'Q', 'L', 'X', '1'};
    h.version = 2;
    h.alg = 1;
    h.reserved = 0xBEEF;
    h.iters = 200000;
    std::iota(h.salt.begin(), h.salt.end(), std::uint8_t{0x10});
    std::iota(h.nonce.begin(), h.nonce.end(), std::uint8_t{0x20});
    h.encBytes = 0x01020304;
    std::iota(h.tag.begin(), h.tag.end(), std::uint8_t{0x40});
    h.headerSize = 84;

    const HeaderBytes b = SerializeContainerHeader(h);
    EXPECT_EQ(test::ToHex(std::span(b).first(8)), "514c58310201efbe");
    EXPECT_EQ(test::ToHex(std::span(b).subspan(8, 4)), "400d0300") << "200000, little-endian";
    EXPECT_EQ(b[12], 0x10);
    EXPECT_EQ(b[28], 0x20);
    EXPECT_EQ(test::ToHex(std::span(b).subspan(44, 4)), "04030201");
    EXPECT_EQ(b[48], 0x40);
    EXPECT_EQ(b[79], 0x40 + 31);
    EXPECT_EQ(test::ToHex(std::span(b).subspan(80, 4)), "54000000");
    EXPECT_EQ(ParseContainerHeader(b), h);

    // Any 84 bytes, valid or not, come back unchanged.
    HeaderBytes noise{};
    for (std::size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<std::uint8_t>(i * 89 + 7);
    EXPECT_EQ(SerializeContainerHeader(ParseContainerHeader(noise)), noise);
}

TEST(ContainerHeader, ValidationInOrder)
{
    struct Row {
        const char* what;
        std::uint64_t fileLength;
        int marker;
        std::size_t headRead;
        std::size_t patchAt;  // 84 = no patch
        std::uint8_t patchValue;
        bool ok;
        ErrorKind kind;
    };
    const std::uint64_t big = std::uint64_t{1} << 31;
    const Row rows[] = {
        {"one body byte", 85, 0, 84, 84, 0, true, {}},
        {"header only", 84, 0, 84, 84, 0, false, ErrorKind::Truncated},
        {"header and marker only", 91, 3, 84, 84, 0, false, ErrorKind::Truncated},
        {"marker and one body byte", 92, 3, 84, 84, 0, true, {}},
        {"header read short", 200, 0, 83, 84, 0, false, ErrorKind::Truncated},
        {"bad magic", 200, 0, 84, 0, 'q', false, ErrorKind::BadHeader},
        {"version 1", 200, 0, 84, 4, 1, false, ErrorKind::BadHeader},
        {"header size 88", 200, 0, 84, 80, 88, false, ErrorKind::BadHeader},
        {"cipher 4", 200, 0, 84, 5, 4, false, ErrorKind::BadHeader},
        {"cipher 255", 200, 0, 84, 5, 255, false, ErrorKind::BadHeader},
        {"iterations above the bound", 200, 0, 84, 11, 0x80, false, ErrorKind::BadHeader},
        {"reserved bytes are ignored", 200, 0, 84, 6, 0x55, true, {}},
        {"2 GiB file", big, 0, 84, 84, 0, false, ErrorKind::Unsupported},
        {"just under 2 GiB", big - 1, 0, 84, 84, 0, true, {}},
    };
    for (const Row& row : rows) {
        HeaderBytes head = ValidHead();
        if (row.patchAt < 84) head[row.patchAt] = row.patchValue;
        const auto result = ValidateContainer(row.fileLength, row.marker, std::span(head).first(row.headRead));
        EXPECT_EQ(result.ok(), row.ok) << row.what;
        if (!row.ok && !result.ok()) {
            EXPECT_EQ(result.error().kind, row.kind) << row.what;
        }
    }

    // The bound itself is allowed: the program never writes more than 200000.
    HeaderBytes head = ValidHead();
    head[8] = 0x80, head[9] = 0x96, head[10] = 0x98, head[11] = 0x00;  // 10,000,000
    EXPECT_TRUE(ValidateContainer(200, 0, head).ok());
    head[8] = 0x81;
    EXPECT_FALSE(ValidateContainer(200, 0, head).ok());
}

TEST(ContainerHeader, EncryptedRegion)
{
    struct Row {
        std::uint32_t encBytes;
        std::uint64_t fileLength;
        int marker;
        std::uint64_t body;
        std::uint64_t encrypted;
    };
    const Row rows[] = {
        {0, 84 + 300000, 0, 300000, 300000},
        {100000, 84 + 300000, 0, 300000, 100000},
        {100000, 84 + 300000 + 7, 2, 300000, 100000},
        {500000, 84 + 300000, 0, 300000, 300000},  // more than the body: the whole body
        {1, 84 + 10, 0, 10, 1},
    };
    for (const Row& row : rows) {
        const auto result = ValidateContainer(row.fileLength, row.marker, ValidHead(row.encBytes));
        ASSERT_TRUE(result.ok());
        EXPECT_EQ(result.value().bodyLength, row.body);
        EXPECT_EQ(result.value().encryptedLength, row.encrypted);
    }
}

TEST(TrailerMarker, KindsAndOrder)
{
    const std::pair<const char*, int> rows[] = {
        {"$$$B$$$", 1}, {"$$$C$$$", 2}, {"$$$T$$$", 3}, {"body$$$T$$$", 3}, {"$$$A$$$", 0},
        {"$$$B$$", 0},  {"$$$b$$$", 0}, {"", 0},        {"$$$C$$$x", 0},
    };
    for (const auto& [text, kind] : rows)
        EXPECT_EQ(MarkerKindOf(test::Bytes(text)), kind) << text;
    for (int alg = 0; alg < 5; ++alg) {
        EXPECT_EQ(MarkerLength(alg), alg >= 1 && alg <= 3 ? 7 : 0);
        EXPECT_EQ(MarkerKindOf(MarkerBytes(alg)), alg <= 3 ? alg : 0);
    }
    EXPECT_EQ(MarkerLength(-1), 0);
}

TEST(HeaderInfo, TextOfAnyEightyFourBytes)
{
    ContainerHeader h = ParseContainerHeader(ValidHead(100000));
    h.alg = 2;
    h.iters = 200000;
    EXPECT_EQ(HeaderInfoText(SerializeContainerHeader(h)), "version=2  alg=2  iters=200000  encBytes=100000");

    HeaderBytes plain{};
    plain.fill(0xff);
    EXPECT_EQ(HeaderInfoText(plain), "version=255  alg=255  iters=4294967295  encBytes=4294967295");
}

TEST(EncBytes, FromTheMaxKiBOption)
{
    EXPECT_EQ(EncBytesFor(444 * 1024, 5'000'000), 5'000'000u) << "default mxb covers ordinary pictures";
    EXPECT_EQ(EncBytesFor(1024, 3'000'000), 1'048'576u) << "mxb 1: the first MiB";
    EXPECT_EQ(EncBytesFor(1024, 1000), 1000u);
    EXPECT_EQ(EncBytesFor(0, 3'000'000), 0u) << "Full File";
    EXPECT_EQ(EncBytesFor(-5, 3'000'000), 0u);
    EXPECT_EQ(EncBytesFor(std::int64_t{3'000'000} * 1024, 2'000'000'000), 2'000'000'000u) << "no 32-bit overflow";
}

}  // namespace
}  // namespace quillix::container
