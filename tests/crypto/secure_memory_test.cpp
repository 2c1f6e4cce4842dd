#include "crypto/secure_memory.h"
#include "support/memory_scan.h"

#include <sys/prctl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <numeric>
#include <string>

namespace quillix::crypto {
namespace {

bool Aligned(const void* data)
{
    return reinterpret_cast<std::uintptr_t>(data) % 64 == 0;
}

// Lock failures are simulated for the life of one of these.
struct LockFailure {
    LockFailure() { SimulateLockFailure(true); }
    ~LockFailure() { SimulateLockFailure(false); }
    LockFailure(const LockFailure&) = delete;
    LockFailure& operator=(const LockFailure&) = delete;
};

int Occurrences(const std::string& text, const std::string& part)
{
    int count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

TEST(SecureMemory, BuffersOfEverySizeAreAlignedLockedAndLeftOutOfCoreDumps)
{
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{63}, std::size_t{64}, std::size_t{4095},
                                   std::size_t{4097}, std::size_t{3} << 20}) {
        void* data = SecureAllocate(size);
        ASSERT_NE(data, nullptr) << size;
        EXPECT_TRUE(Aligned(data)) << size;
        EXPECT_TRUE(IsLockedMemory(data)) << size;
        if (size > 0) {
            auto* bytes = static_cast<std::uint8_t*>(data);
            bytes[0] = 1;
            bytes[size - 1] = 2;
            EXPECT_TRUE(test::InGuardedMemory(bytes + size - 1)) << size << ": " << test::MappingFlags(data);
        }
        SecureFree(data);
    }
    SecureFree(nullptr);
}

TEST(SecureMemory, LargeBuffersAreWipedWhenFreedAndFencedByAGuardPage)
{
    constexpr std::size_t kSize = std::size_t{4} << 20;
    for (int round = 0; round < 2; ++round) {
        auto* bytes = static_cast<std::uint8_t*>(SecureAllocate(kSize));
        ASSERT_NE(bytes, nullptr);
        // Memory handed out again (the freed block's, when it is kept for reuse) holds nothing of
        // what it held.
        std::size_t left = 0;
        for (std::size_t i = 0; i < kSize; ++i)
            left += bytes[i] == 0xAB;
        EXPECT_EQ(left, 0u) << "round " << round;
        std::memset(bytes, 0xAB, kSize);
        SecureFree(bytes);
    }
    auto* bytes = static_cast<std::uint8_t*>(SecureAllocate(kSize));
    EXPECT_DEATH(static_cast<volatile std::uint8_t*>(bytes)[kSize] = 1, "");
    SecureFree(bytes);
}

TEST(SecureMemory, ContainersKeepTheirBytesInGuardedMemoryAsTheyGrow)
{
    SecureBytes bytes;
    for (int i = 0; i < 100000; ++i)
        bytes.push_back(static_cast<std::uint8_t>(i));
    EXPECT_TRUE(IsLockedMemory(bytes.data()));
    EXPECT_TRUE(test::InGuardedMemory(bytes.data()));
    for (int i = 0; i < 100000; ++i)
        ASSERT_EQ(bytes[static_cast<std::size_t>(i)], static_cast<std::uint8_t>(i));

    // A short text would live inside the string object: the reserve keeps it in guarded memory.
    const SecureString text = ToSecureString("pw", 2);
    EXPECT_EQ(std::string(text.data(), text.size()), "pw");
    EXPECT_TRUE(IsLockedMemory(text.data()));
    SecureString forgotten = ToSecureString("secret", 6);
    Forget(forgotten);
    EXPECT_TRUE(forgotten.empty());
}

TEST(SecureMemory, WhenLockingFailsOrdinaryMemoryServesAndTheFallBackIsToldOnce)
{
    const bool toldBefore = LockFallbackReported();
    testing::internal::CaptureStderr();
    void* first = nullptr;
    void* second = nullptr;
    SecureBytes bytes;
    {
        const LockFailure failing;
        first = SecureAllocate(100);
        second = SecureAllocate(1 << 20);
        bytes.resize(5000);
        std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
    }
    const std::string told = testing::internal::GetCapturedStderr();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    for (const void* data :
         {static_cast<const void*>(first), static_cast<const void*>(second), static_cast<const void*>(bytes.data())}) {
        EXPECT_FALSE(IsLockedMemory(data));
        EXPECT_TRUE(Aligned(data));
    }
    EXPECT_FALSE(test::InGuardedMemory(second));
    EXPECT_EQ(bytes[4999], static_cast<std::uint8_t>(4999 % 256));
    EXPECT_TRUE(LockFallbackReported());
    EXPECT_EQ(Occurrences(told, "locked-memory limit is reached"), toldBefore ? 0 : 1) << told;
    SecureFree(first);
    SecureFree(second);

    // Locking works again for the next buffer.
    void* after = SecureAllocate(100);
    EXPECT_TRUE(IsLockedMemory(after));
    SecureFree(after);
}

TEST(SecureMemory, TheProcessMakesNoCoreDumpAndStillReadsItsOwnMemory)
{
    ProtectProcessMemory();
    EXPECT_EQ(::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), 0);
    if (!test::kCanScan) GTEST_SKIP() << "the memory scan needs a build without AddressSanitizer";
    // The memory tests read /proc/self/mem, which stays open to the process itself.
    SecureBytes bytes(32);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(0xA0 ^ (i * 7));
    test::Needle needle;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        (i < 16 ? needle.first : needle.second) += static_cast<char>(bytes[i]);
    const test::MemoryHits hits = test::FindInMemory(needle);
    EXPECT_TRUE(hits.readable);
    EXPECT_EQ(hits.locked, 1);
    EXPECT_EQ(hits.unlocked, 0);
}

}  // namespace
}  // namespace quillix::crypto
