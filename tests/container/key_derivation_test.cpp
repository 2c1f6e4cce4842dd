#include "container/key_derivation.h"
#include "crypto/hashes.h"
#include "support/hex.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillix::container {
namespace {

using test::Bytes;
using test::ToHex;
using Salt = std::array<std::uint8_t, 16>;

TEST(PasswordText, FromNameAndOption)
{
    struct Row {
        const char* path;
        bool fileNamePW;
        const char* text;
    };
    const Row rows[] = {
        {"/home/u/pics/photo.jpg", false, "secret"},
        {"/home/u/pics/photo.jpg", true, "photo.jpg|secret"},
        {"/home/u/pics/$photo.jpg", true, "photo.jpg|secret"},  // container and plain file agree
        {"$$odd.jpg", true, "$odd.jpg|secret"},                 // only the first "$" goes
        {"Photo.JPG", true, "Photo.JPG|secret"},                // case is kept
    };
    for (const Row& row : rows)
        EXPECT_EQ(BuildPasswordText(row.path, "secret", row.fileNamePW), row.text) << row.path;
}

TEST(FileNameHashTest, FnvOfTheNameModFifty)
{
    // FNV-1a 32-bit: "" is the offset basis 0x811c9dc5, "a" is 0xe40c292c, "foobar" 0xbf9cf968.
    EXPECT_EQ(FileNameHash(""), static_cast<int>(0x811c9dc5u % 50));
    EXPECT_EQ(FileNameHash("a"), static_cast<int>(0xe40c292cu % 50));
    EXPECT_EQ(FileNameHash("/some/folder/foobar"), static_cast<int>(0xbf9cf968u % 50));
    EXPECT_EQ(FileNameHash("/one/place/IMG_0001.jpg"), FileNameHash("/another/IMG_0001.jpg"));
    EXPECT_NE(FileNameHash("A.jpg"), FileNameHash("a.jpg"));
    for (const char* name : {"x", "holiday.png", "$a.webp", "\xc3\xa9t\xc3\xa9.jpg"}) {
        const int h = FileNameHash(name);
        EXPECT_GE(h, 0);
        EXPECT_LT(h, 50);
    }
}

TEST(Salt, RandomOrDerivedFromTheName)
{
    Salt a{}, b{};
    ASSERT_TRUE(MakeSalt(a, "/p/a.jpg", "pw", false));
    ASSERT_TRUE(MakeSalt(b, "/p/a.jpg", "pw", false));
    EXPECT_NE(a, b) << "normal mode salts are random";

    ASSERT_TRUE(MakeSalt(a, "/p/a.jpg", "pw", true));
    ASSERT_TRUE(MakeSalt(b, "/elsewhere/a.jpg", "pw", true));
    EXPECT_EQ(a, b) << "fast mode: same name, same salt";
    std::array<std::uint8_t, 32> mac{};
    crypto::HmacSha256(Bytes("pw"), Bytes("pw|" + std::to_string(FileNameHash("a.jpg"))), mac);
    EXPECT_EQ(ToHex(a), ToHex(std::span(mac).first(16)));

    ASSERT_TRUE(MakeSalt(b, "/p/a.jpg", "other", true));
    EXPECT_NE(a, b);
}

TEST(Derivation, SplitsPbkdf2OutputAndCutsThePasswordAt200Bytes)
{
    const Salt salt = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    for (std::size_t keyLen : {std::size_t{16}, std::size_t{32}}) {
        std::array<std::uint8_t, 32> enc{}, mac{};
        DeriveKeys("pw", salt, 50, std::span(enc).first(keyLen), mac);
        std::vector<std::uint8_t> dk(keyLen + 32);
        crypto::Pbkdf2HmacSha256(Bytes("pw"), salt, 50, dk);
        EXPECT_EQ(ToHex(std::span(enc).first(keyLen)), ToHex(std::span(dk).first(keyLen)));
        EXPECT_EQ(ToHex(mac), ToHex(std::span(dk).subspan(keyLen)));
    }

    const std::string first200(200, 'p');
    std::array<std::uint8_t, 16> encA{}, encB{}, encC{};
    std::array<std::uint8_t, 32> macA{}, macB{}, macC{};
    DeriveKeys(first200, salt, 10, encA, macA);
    DeriveKeys(first200 + "tail that is ignored", salt, 10, encB, macB);
    DeriveKeys(first200.substr(0, 199), salt, 10, encC, macC);
    EXPECT_EQ(encA, encB);
    EXPECT_EQ(macA, macB);
    EXPECT_NE(encA, encC);
}

TEST(KeyCache, SecondDerivationIsFreeUntilCleared)
{
    ClearKeyCache();
    const Salt salt{};
    Salt otherSalt{};
    otherSalt[15] = 1;
    std::array<std::uint8_t, 32> enc{}, mac{};
    const auto derive = [&](const std::string& text, const Salt& s, std::size_t keyLen, std::uint32_t iters = 30) {
        const std::uint64_t before = KeyDerivationCount();
        EXPECT_TRUE(DeriveKeysCached(text, s, iters, std::span(enc).first(keyLen), mac));
        return KeyDerivationCount() - before;
    };

    EXPECT_EQ(derive("pw", salt, 16), 1u);
    std::array<std::uint8_t, 32> encUncached{}, macUncached{};
    DeriveKeys("pw", salt, 30, std::span(encUncached).first(16), macUncached);
    EXPECT_EQ(ToHex(std::span(enc).first(16)), ToHex(std::span(encUncached).first(16)));
    EXPECT_EQ(mac, macUncached);

    EXPECT_EQ(derive("pw", salt, 16), 0u) << "same inputs come from the cache";
    EXPECT_EQ(ToHex(std::span(enc).first(16)), ToHex(std::span(encUncached).first(16)));
    EXPECT_EQ(derive("pw", otherSalt, 16), 1u);
    EXPECT_EQ(derive("pw", salt, 32), 1u) << "key length is part of the key text";
    EXPECT_EQ(derive("pw", salt, 16, 31), 1u) << "so is the iteration count";
    EXPECT_EQ(derive("other", salt, 16), 1u);
    EXPECT_EQ(derive("pw", salt, 16), 0u);

    ClearKeyCache();
    EXPECT_EQ(derive("pw", salt, 16), 1u);

    std::array<std::uint8_t, 20> odd{};
    EXPECT_FALSE(DeriveKeysCached("pw", salt, 30, odd, mac));
}

TEST(KeyCache, ThreadsAskingForOneKeyDeriveItOnce)
{
    ClearKeyCache();
    Salt salt{};
    salt[0] = 42;
    const std::uint64_t before = KeyDerivationCount();
    std::vector<std::array<std::uint8_t, 32>> macs(4);
    std::vector<std::thread> threads;
    for (auto& mac : macs) {
        threads.emplace_back([&salt, &mac] {
            std::array<std::uint8_t, 16> enc{};
            EXPECT_TRUE(DeriveKeysCached("shared", salt, 20000, enc, mac));
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(KeyDerivationCount() - before, 1u);
    for (const auto& mac : macs)
        EXPECT_EQ(mac, macs.front());
}

TEST(KeyCache, ADerivationDoesNotHoldUpCachedKeys)
{
    ClearKeyCache();
    const Salt cachedSalt{};
    Salt slowSalt{};
    slowSalt[0] = 1;
    std::array<std::uint8_t, 16> enc{};
    std::array<std::uint8_t, 32> mac{};
    ASSERT_TRUE(DeriveKeysCached("pw", cachedSalt, 10, enc, mac));

    // The other key's derivation is held under way until the cached key has come back; should
    // the lookup queue behind it, the hold ends only at the (generous) deadline and says so.
    constexpr auto kDeadline = std::chrono::seconds(60);
    std::mutex mutex;
    std::condition_variable changed;
    bool started = false, released = false, releasedInTime = false;
    SetDerivationStartHookForTesting([&] {
        std::unique_lock lock(mutex);
        if (started) return;
        started = true;
        changed.notify_all();
        releasedInTime = changed.wait_for(lock, kDeadline, [&] { return released; });
    });
    struct Unhook {
        ~Unhook() { SetDerivationStartHookForTesting({}); }
    } unhook;

    std::thread slow([&] {
        std::array<std::uint8_t, 16> slowEnc{};
        std::array<std::uint8_t, 32> slowMac{};
        EXPECT_TRUE(DeriveKeysCached("pw", slowSalt, 10, slowEnc, slowMac));
    });
    {
        std::unique_lock lock(mutex);
        if (!changed.wait_for(lock, kDeadline, [&] { return started; })) {
            lock.unlock();
            slow.join();
            FAIL() << "the other key's derivation never started";
        }
    }
    const std::uint64_t before = KeyDerivationCount();
    EXPECT_TRUE(DeriveKeysCached("pw", cachedSalt, 10, enc, mac));
    EXPECT_EQ(KeyDerivationCount(), before);
    {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
    slow.join();
    EXPECT_TRUE(releasedInTime) << "the cached key waited for another key's derivation";
}

TEST(KeyCache, KeyText)
{
    Salt salt{};
    for (std::size_t i = 0; i < salt.size(); ++i)
        salt[i] = static_cast<std::uint8_t>(i * 17);
    const std::string text = KeyCacheText("a.jpg|hunter2", 20000, 16, salt);
    // A hash of the password text in 64 hex digits, then the parameters.
    ASSERT_EQ(text.size(), 64u + std::string("|20000|16|00112233445566778899AABBCCDDEEFF").size());
    EXPECT_EQ(text.find_first_not_of("0123456789ABCDEF"), 64u);
    EXPECT_EQ(text.substr(64), "|20000|16|00112233445566778899AABBCCDDEEFF");
    EXPECT_EQ(text.find("hunter2"), std::string::npos);
    EXPECT_EQ(text.find("a.jpg"), std::string::npos);
    EXPECT_EQ(KeyCacheText("a.jpg|hunter2", 20000, 16, salt), text) << "one text, one key";
    EXPECT_NE(KeyCacheText("a.jpg|hunter3", 20000, 16, salt).substr(0, 64), text.substr(0, 64));
    EXPECT_NE(KeyCacheText("b.jpg|hunter2", 20000, 16, salt).substr(0, 64), text.substr(0, 64));
}

}  // namespace
}  // namespace quillix::container
