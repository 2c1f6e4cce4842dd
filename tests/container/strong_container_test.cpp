// The strong container: its header, the vectors made apart from this program, refusals of
// damaged, cut and hostile files, and the key cache its writer and readers share.
#include "container/container_file.h"
#include "container/file_ops.h"
#include "container/key_derivation.h"
#include "container/strong_container.h"
#include "container/strong_format.h"
#include "container/strong_keys.h"
#include "crypto/ciphers.h"
#include "support/gate.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <latch>
#include <set>
#include <thread>

namespace quillix::container {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

const std::string kData = QUILLIX_KNOWN_ANSWERS;
constexpr const char* kHorse = "correct horse battery staple";
constexpr const char* kUnicode = "pässwörd 🔑";

Bytes Pattern(std::size_t size)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 % 251);
    return bytes;
}

FileOptions Strong()
{
    FileOptions options;
    options.EncryptionAlg = crypto::CipherStrong;
    options.Passes = 1;
    return options;
}

// A strong container of `plain` made by the program, its bytes.
Bytes Made(const Bytes& plain, const std::string& password = "pw")
{
    TempDir dir;
    WriteFile(dir / "p.jpg", plain);
    const Result<std::string> sealed = EncryptToContainer(dir / "p.jpg", password, Strong());
    EXPECT_TRUE(sealed.ok()) << sealed.error().message;
    return sealed.ok() ? ReadFile(sealed.value()) : Bytes{};
}

std::string PathOrEmpty(const Result<std::string>& result)
{
    return result.ok() ? result.value() : std::string();
}

StrongHeader HeaderOf(const Bytes& container)
{
    return ParseStrongHeader(std::span(container).first<kStrongHeaderSize>());
}

TEST(StrongHeader, FieldOffsetsAndRoundTrip)
{
    StrongHeader h;
    for (std::size_t i = 0; i < 16; ++i)
        h.salt[i] = static_cast<std::uint8_t>(0xA0 + i);
    for (std::size_t i = 0; i < 24; ++i)
        h.streamHeader[i] = static_cast<std::uint8_t>(0x30 + i);
    const StrongHeaderBytes b = SerializeStrongHeader(h);
    const Bytes head(b.begin(), b.begin() + 16);
    EXPECT_EQ(head, (Bytes{'Q', 'L', 'X', '1', 3, 1, 0, 0, 3, 0, 0, 0, 0x00, 0x00, 0x01, 0x00}));
    EXPECT_EQ(b[16], 0xA0);
    EXPECT_EQ(b[31], 0xAF);
    EXPECT_EQ(b[32], 0x30);
    EXPECT_EQ(b[55], 0x30 + 23);
    EXPECT_EQ(Bytes(b.begin() + 56, b.end()), (Bytes{0x00, 0x00, 0x01, 0x00, 64, 0, 0, 0}));
    EXPECT_EQ(ParseStrongHeader(b), h);
    EXPECT_TRUE(IsStrongHead(b));
    EXPECT_EQ(StrongHeaderInfoText(b), "version=3  kdf=Argon2id  passes=3  memory=65536 KiB");
}

TEST(StrongHeader, EachRefusedRowAndEveryLength)
{
    const StrongHeaderBytes good = SerializeStrongHeader(StrongHeader{});
    const std::uint64_t emptyLength = kStrongHeaderSize + kStrongMessageOverhead;
    struct Row {
        const char* what;
        std::function<void(StrongHeader&)> change;
        ErrorKind kind;
    };
    const Row rows[] = {
        {"magic", [](StrongHeader& h) { h.magic[3] = '2'; }, ErrorKind::BadHeader},
        {"version", [](StrongHeader& h) { h.version = 2; }, ErrorKind::BadHeader},
        {"key derivation 0", [](StrongHeader& h) { h.kdf = 0; }, ErrorKind::BadHeader},
        {"key derivation 2", [](StrongHeader& h) { h.kdf = 2; }, ErrorKind::BadHeader},
        {"reserved", [](StrongHeader& h) { h.reserved = 0x100; }, ErrorKind::BadHeader},
        {"no passes", [](StrongHeader& h) { h.passes = 0; }, ErrorKind::BadHeader},
        {"11 passes", [](StrongHeader& h) { h.passes = 11; }, ErrorKind::BadHeader},
        {"7 KiB", [](StrongHeader& h) { h.memoryKiB = 7; }, ErrorKind::BadHeader},
        {"1 GiB and 1 KiB", [](StrongHeader& h) { h.memoryKiB = 1048577; }, ErrorKind::BadHeader},
        {"chunk length", [](StrongHeader& h) { h.chunkLength = 65535; }, ErrorKind::BadHeader},
        {"header length", [](StrongHeader& h) { h.headerLength = 84; }, ErrorKind::BadHeader},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        StrongHeader h;
        row.change(h);
        const StrongHeaderBytes bad = SerializeStrongHeader(h);
        const Result<StrongLayout> layout = ValidateStrongContainer(emptyLength, bad);
        ASSERT_FALSE(layout.ok());
        EXPECT_EQ(layout.error().kind, row.kind);
    }
    // The limits themselves are taken.
    for (const auto& [passes, memory] : {std::pair{1u, 8u}, std::pair{10u, 1048576u}}) {
        StrongHeader h;
        h.passes = passes;
        h.memoryKiB = memory;
        EXPECT_TRUE(ValidateStrongContainer(emptyLength, SerializeStrongHeader(h)).ok()) << passes << " " << memory;
    }
    EXPECT_EQ(ValidateStrongContainer(63, std::span(good).first(63)).error().kind, ErrorKind::Truncated);

    // Messages are 65553 bytes but the last, which is 17 to 65552: any other body length is a
    // message cut short, a missing final message or bytes after it.
    constexpr std::uint64_t M = 65553;
    struct Length {
        std::uint64_t body;
        std::int64_t plain;  // -1: refused
    };
    const Length lengths[] = {{0, -1},      {16, -1},        {17, 0},
                              {18, 1},      {M - 1, 65535},  {M, -1},
                              {M + 16, -1}, {M + 17, 65536}, {3 * M + 3409, 200000},
                              {3 * M, -1},  {2 * M + 5, -1}};
    for (const Length& l : lengths) {
        const Result<StrongLayout> layout = ValidateStrongContainer(kStrongHeaderSize + l.body, good);
        if (l.plain < 0) {
            EXPECT_FALSE(layout.ok()) << l.body;
            continue;
        }
        ASSERT_TRUE(layout.ok()) << l.body;
        EXPECT_EQ(layout.value().plainLength, static_cast<std::uint64_t>(l.plain));
        EXPECT_EQ(StrongContainerLength(layout.value().plainLength), kStrongHeaderSize + l.body);
    }
}

// Parameters out of range are refused from the header alone: no Argon2 runs, however hostile.
TEST(StrongHeader, HostileParametersAreRefusedWithoutDeriving)
{
    TempDir dir;
    const Bytes good = Made(Pattern(100));
    struct Row {
        std::uint32_t passes, memoryKiB;
    };
    const Row rows[] = {{0, 65536},   {11, 65536},     {0xFFFFFFFF, 65536},     {3, 0},
                        {3, 1048577}, {3, 0xFFFFFFFF}, {0xFFFFFFFF, 0xFFFFFFFF}};
    ClearKeyCache();
    const std::uint64_t before = StrongDerivationCount();
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.passes << " passes, " << row.memoryKiB << " KiB");
        StrongHeader h = HeaderOf(good);
        h.passes = row.passes;
        h.memoryKiB = row.memoryKiB;
        Bytes bad = good;
        const StrongHeaderBytes head = SerializeStrongHeader(h);
        std::copy(head.begin(), head.end(), bad.begin());
        WriteFile(dir / "$hostile.jpg", bad);
        const Result<Bytes> opened = DecryptContainerFile(dir / "$hostile.jpg", "pw", true);
        ASSERT_FALSE(opened.ok());
        EXPECT_EQ(opened.error().kind, ErrorKind::BadHeader);
        EXPECT_FALSE(VerifyContainerFile(dir / "$hostile.jpg", "pw", true).ok());
        EXPECT_FALSE(DecryptToPlainFile(dir / "$hostile.jpg", "pw", true).ok());
    }
    EXPECT_EQ(StrongDerivationCount(), before);
    EXPECT_EQ(test::FileNames(dir), std::set<std::string>{"$hostile.jpg"});
}

struct Vector {
    const char* file;
    const char* password;
    std::size_t size;
};
const Vector kVectors[] = {
    {"strong-empty.qlx", kHorse, 0},
    {"strong-1000.qlx", kHorse, 1000},
    {"strong-65536.qlx", kHorse, 65536},
    {"strong-200000.qlx", kUnicode, 200000},
};

TEST(StrongVectors, EachOpensToItsBytesByEveryReader)
{
    for (const Vector& v : kVectors) {
        SCOPED_TRACE(v.file);
        const std::string path = kData + "/" + v.file;
        EXPECT_TRUE(IsEncryptedFile(path)) << "no \"$\", yet a container";
        EXPECT_TRUE(IsStrongContainer(path));
        const Result<Bytes> opened = DecryptContainerFile(path, v.password, true);
        ASSERT_TRUE(opened.ok()) << opened.error().message;
        EXPECT_EQ(opened.value(), Pattern(v.size));
        EXPECT_TRUE(VerifyContainerFile(path, v.password, false).ok()) << "the name is no part of the key";
        Bytes streamed;
        ASSERT_TRUE(DecryptContainerTo(path, v.password, true, [&](std::span<const std::uint8_t> piece) {
                        streamed.insert(streamed.end(), piece.begin(), piece.end());
                        return true;
                    }).ok());
        EXPECT_EQ(streamed, Pattern(v.size));

        TempDir dir;
        fs::copy_file(path, dir / "$picture.bmp");
        const Result<InPlaceResult> done = DecryptInPlace(dir / "$picture.bmp", v.password, Strong());
        ASSERT_TRUE(done.ok()) << done.error().message;
        EXPECT_EQ(ReadFile(dir / "picture.bmp"), Pattern(v.size));
        EXPECT_EQ(test::FileNames(dir), std::set<std::string>{"picture.bmp"});
        EXPECT_FALSE(VerifyContainerFile(path, "correct horse battery stapl", true).ok());
    }
}

// Any changed byte, whichever field it is in, refuses the container, and nothing is written.
TEST(StrongVectors, EveryFlippedByteIsRefused)
{
    TempDir dir;
    for (const Vector& v : {kVectors[0], kVectors[1]}) {
        SCOPED_TRACE(v.file);
        const Bytes good = ReadFile(kData + "/" + v.file);
        for (std::size_t at = 0; at < good.size(); ++at) {
            Bytes bad = good;
            bad[at] ^= 0xFF;
            WriteFile(dir / "$x.bin", bad);
            EXPECT_FALSE(DecryptContainerFile(dir / "$x.bin", v.password, true).ok()) << "byte " << at;
            if (at % 97 == 0 || at < kStrongHeaderSize) {
                EXPECT_FALSE(DecryptToPlainFile(dir / "$x.bin", v.password, true).ok()) << "byte " << at;
                EXPECT_EQ(test::FileNames(dir), std::set<std::string>{"$x.bin"}) << "byte " << at;
            }
        }
    }
}

// Cut at every message boundary, inside the header and the messages, or with a byte more: refused.
TEST(StrongVectors, CutOrLengthenedContainersAreRefused)
{
    TempDir dir;
    constexpr std::size_t M = 65553;
    for (const Vector& v : {kVectors[2], kVectors[3]}) {
        SCOPED_TRACE(v.file);
        const Bytes good = ReadFile(kData + "/" + v.file);
        std::set<std::size_t> lengths = {0, 5, 63, 64, 65, 80, good.size() - 17, good.size() - 1};
        for (std::size_t boundary = 64; boundary < good.size(); boundary += M) {
            lengths.insert(boundary);
            lengths.insert(boundary + 17);
            lengths.insert(boundary + 1000);
        }
        for (const std::size_t length : lengths) {
            if (length >= good.size()) continue;
            WriteFile(dir / "$x.bin", Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length)));
            EXPECT_FALSE(DecryptContainerFile(dir / "$x.bin", v.password, true).ok()) << "cut at " << length;
            EXPECT_FALSE(DecryptToPlainFile(dir / "$x.bin", v.password, true).ok()) << "cut at " << length;
            EXPECT_EQ(test::FileNames(dir), std::set<std::string>{"$x.bin"});
        }
        for (const Bytes& more : {Bytes{0}, Bytes(17, 0), Bytes(M, 0)}) {
            Bytes longer = good;
            longer.insert(longer.end(), more.begin(), more.end());
            WriteFile(dir / "$x.bin", longer);
            EXPECT_FALSE(DecryptContainerFile(dir / "$x.bin", v.password, true).ok()) << more.size() << " more";
        }
    }
}

// Sizes around the chunk length: a container of the table's length that opens to its bytes, under
// any name, without the name in the key.
TEST(StrongFiles, RoundTripAroundTheChunkLength)
{
    for (const std::size_t size : {0, 1, 65535, 65536, 65537, 200000, 3 * 65536}) {
        SCOPED_TRACE(size);
        TempDir dir;
        const Bytes plain = test::PseudoRandomBytes(size, static_cast<std::uint32_t>(size));
        WriteFile(dir / "photo.jpg", plain);
        const Result<InPlaceResult> sealed = EncryptInPlace(dir / "photo.jpg", "pw", Strong());
        ASSERT_TRUE(sealed.ok()) << sealed.error().message;
        EXPECT_EQ(test::FileNames(dir), std::set<std::string>{"$photo.jpg"});
        const Bytes container = ReadFile(dir / "$photo.jpg");
        EXPECT_EQ(container.size(), StrongContainerLength(size));
        EXPECT_EQ(HeaderOf(container), (StrongHeader{{'Q', 'L', 'X', '1'},
                                                     3,
                                                     1,
                                                     0,
                                                     3,
                                                     65536,
                                                     HeaderOf(container).salt,
                                                     HeaderOf(container).streamHeader,
                                                     65536,
                                                     64}));
        EXPECT_EQ(HeaderInfoOfFile(dir / "$photo.jpg"), "version=3  kdf=Argon2id  passes=3  memory=65536 KiB");

        fs::rename(dir / "$photo.jpg", dir / "renamed.png");
        EXPECT_TRUE(IsEncryptedFile(dir / "renamed.png"));
        Bytes stream;
        ASSERT_TRUE(DecryptToStream(dir / "renamed.png", "pw", true, stream));
        EXPECT_EQ(stream, plain);
        EXPECT_EQ(PathOrEmpty(EncryptToContainer(dir / "renamed.png", "pw", Strong())), dir / "renamed.png")
            << "encrypted already";
        const Result<InPlaceResult> refused = DecryptInPlace(dir / "renamed.png", "pw", Strong());
        ASSERT_FALSE(refused.ok()) << "no \"$\": no plain name to decrypt it to";
        EXPECT_NE(refused.error().message.find("\"$renamed.png\""), std::string::npos) << refused.error().message;

        fs::rename(dir / "renamed.png", dir / "$other.gif");
        ASSERT_TRUE(DecryptInPlace(dir / "$other.gif", "pw", Strong()).ok());
        EXPECT_EQ(ReadFile(dir / "other.gif"), plain);
        EXPECT_EQ(test::FileNames(dir), std::set<std::string>{"other.gif"});
    }
}

// What the compatible format refuses for its own limits does not apply: long names and passwords.
TEST(StrongFiles, NoNameInTheKeyNoPasswordCut)
{
    TempDir dir;
    const std::string longName = std::string(240, 'n') + ".jpg";
    const std::string longPassword(300, 'p');
    WriteFile(dir / longName, Pattern(5000));
    ASSERT_TRUE(EncryptToContainer(dir / longName, longPassword, Strong()).ok());
    EXPECT_TRUE(VerifyContainerFile(dir / ("$" + longName), longPassword, true).ok());
    EXPECT_FALSE(VerifyContainerFile(dir / ("$" + longName), std::string(299, 'p') + "q", true).ok())
        << "every byte of the password counts";
}

TEST(StrongKeyCache, OneSaltPerPasswordPerRun)
{
    ClearKeyCache();
    const std::uint64_t before = StrongDerivationCount();
    const Bytes a = Made(Pattern(10)), b = Made(Pattern(20));
    EXPECT_EQ(HeaderOf(a).salt, HeaderOf(b).salt) << "one salt for the run's password";
    EXPECT_NE(HeaderOf(a).streamHeader, HeaderOf(b).streamHeader) << "but each file its own stream";
    EXPECT_EQ(StrongDerivationCount() - before, 1u) << "a batch derives once";

    const Bytes other = Made(Pattern(10), "another");
    EXPECT_NE(HeaderOf(other).salt, HeaderOf(a).salt);
    EXPECT_EQ(StrongDerivationCount() - before, 2u);

    ClearKeyCache();
    const Bytes afterClear = Made(Pattern(10));
    EXPECT_NE(HeaderOf(afterClear).salt, HeaderOf(a).salt) << "forgetting the password forgets its salt";
    EXPECT_EQ(StrongDerivationCount() - before, 3u);

    // Reading derives what the cache lacks, once.
    TempDir dir;
    WriteFile(dir / "$a.jpg", a);
    ClearKeyCache();
    ASSERT_TRUE(VerifyContainerFile(dir / "$a.jpg", "pw", true).ok());
    ASSERT_TRUE(VerifyContainerFile(dir / "$a.jpg", "pw", false).ok());
    EXPECT_EQ(StrongDerivationCount() - before, 4u);
}

// A second thread that asks for a key being derived waits for it instead of deriving again, and
// a thread asking for another key is not held up meanwhile.
TEST(StrongKeyCache, OneDerivationPerKeyAndNoneHeldUpByAnother)
{
    ClearKeyCache();
    std::array<std::uint8_t, 16> salt{}, otherSalt{};
    otherSalt[0] = 1;
    test::Gate firstDeriving;
    std::latch secondWaiting(1);
    std::atomic<int> derivingCalls{0};
    SetStrongKeyHooks({[&] {
                           if (derivingCalls++ == 0) firstDeriving.Pass();
                       },
                       [&] { secondWaiting.count_down(); }});
    const std::uint64_t before = StrongDerivationCount();

    std::array<std::uint8_t, 32> first{}, second{}, other{};
    std::thread a([&] { EXPECT_TRUE(DeriveStrongKeyCached("pw", salt, 1, 8, first)); });
    ASSERT_TRUE(firstDeriving.WaitEntered());
    std::thread b([&] { EXPECT_TRUE(DeriveStrongKeyCached("pw", salt, 1, 8, second)); });
    secondWaiting.wait();
    // The first derivation is still held at its gate: another key goes through regardless.
    EXPECT_TRUE(DeriveStrongKeyCached("pw", otherSalt, 1, 8, other));
    firstDeriving.Open();
    a.join();
    b.join();
    SetStrongKeyHooks({});

    EXPECT_EQ(StrongDerivationCount() - before, 2u) << "the waiting thread took the first one's key";
    EXPECT_EQ(first, second);
    EXPECT_NE(first, other);
    std::array<std::uint8_t, 32> direct{};
    ASSERT_TRUE(DeriveStrongKey("pw", salt, 1, 8, direct));
    EXPECT_EQ(direct, first);
}

}  // namespace
}  // namespace quillix::container
