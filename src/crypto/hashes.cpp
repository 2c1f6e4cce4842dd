#include "crypto/hashes.h"

#include "crypto/gcrypt_init.h"
#include "crypto/secure.h"
#include "crypto/sha256_compress.h"

#include <gcrypt.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace quillix::crypto {
namespace {

MdHandle OpenMd(int algo, unsigned flags)
{
    EnsureGcrypt();
    gcry_md_hd_t raw = nullptr;
    // Opening SHA-256 only fails when libgcrypt is out of memory or in a broken state; carrying
    // on would hand out a wrong digest or key, so stop here.
    if (gcry_md_open(&raw, algo, flags) != 0) std::abort();
    return MdHandle(raw);
}

void CopyDigest(gcry_md_hd_t handle, std::span<std::uint8_t, 32> out)
{
    const unsigned char* digest = gcry_md_read(handle, GCRY_MD_SHA256);
    std::memcpy(out.data(), digest, 32);
}

// PBKDF2 state for up to two output blocks at once. Each iteration is HMAC of a 32-byte U
// under the same key, so the states after the ipad and opad blocks are computed once; what
// remains of the inner and of the outer hash is then one block of 32 message bytes and the
// fixed padding of a 96-byte message.
struct Pbkdf2Lane {
    Sha256State inner;
    Sha256State outer;
    Sha256Block innerBlock;  // U, then padding
    Sha256Block outerBlock;  // the inner digest, then padding
    Sha256State t;           // U1 ^ U2 ^ ...
};

struct Pbkdf2Work {
    Sha256State innerPad{};  // after the key ^ ipad block
    Sha256State outerPad{};  // after the key ^ opad block
    std::array<Pbkdf2Lane, 2> lanes{};
    std::array<std::uint8_t, 64> bytes{};
    Sha256Block padBlock{};

    Pbkdf2Work() = default;
    Pbkdf2Work(const Pbkdf2Work&) = delete;
    Pbkdf2Work& operator=(const Pbkdf2Work&) = delete;
    ~Pbkdf2Work() { SecureWipe(this, sizeof *this); }
};

constexpr std::array<std::uint32_t, 8> kPadOf96 = {0x80000000, 0, 0, 0, 0, 0, 0, 96 * 8};

void SetMessage(Sha256Block& block, const Sha256State& digest)
{
    std::copy(digest.begin(), digest.end(), block.begin());
    std::copy(kPadOf96.begin(), kPadOf96.end(), block.begin() + 8);
}

void MakeHmacPads(Sha256Impl impl, std::span<const std::uint8_t> password, Pbkdf2Work& work)
{
    std::array<std::uint8_t, 64>& key = work.bytes;
    key.fill(0);
    if (password.size() > key.size()) {
        Sha256Hasher hasher(impl);
        hasher.Update(password);
        Sha256State digest = hasher.Final();
        Sha256StoreState(digest, std::span(key).first<32>());
        SecureWipe(digest.data(), sizeof digest);
    } else {
        std::copy(password.begin(), password.end(), key.begin());
    }
    for (std::uint8_t& b : key)
        b ^= 0x36;
    work.padBlock = Sha256LoadBlock(key);
    work.innerPad = kSha256InitialState;
    Sha256Compress(impl, work.innerPad, work.padBlock);
    for (std::uint8_t& b : key)
        b ^= 0x36 ^ 0x5c;
    work.padBlock = Sha256LoadBlock(key);
    work.outerPad = kSha256InitialState;
    Sha256Compress(impl, work.outerPad, work.padBlock);
}

// U1 = HMAC(password, salt ‖ INT(block)); the salt has any length, so this takes the general road.
void StartLane(Sha256Impl impl, const Pbkdf2Work& work, std::span<const std::uint8_t> salt, std::uint32_t block,
               Pbkdf2Lane& lane)
{
    Sha256Hasher inner(impl, work.innerPad, 1);
    inner.Update(salt);
    const std::uint8_t index[4] = {std::uint8_t(block >> 24), std::uint8_t(block >> 16), std::uint8_t(block >> 8),
                                   std::uint8_t(block)};
    inner.Update(index);
    lane.inner = inner.Final();
    SetMessage(lane.outerBlock, lane.inner);
    lane.outer = work.outerPad;
    Sha256Compress(impl, lane.outer, lane.outerBlock);
    SetMessage(lane.innerBlock, lane.outer);
    lane.t = lane.outer;
}

void FinishIteration(Pbkdf2Lane& lane)
{
    std::copy(lane.outer.begin(), lane.outer.end(), lane.innerBlock.begin());
    for (std::size_t k = 0; k < lane.t.size(); ++k)
        lane.t[k] ^= lane.outer[k];
}

void IterateOne(Sha256Impl impl, const Pbkdf2Work& work, Pbkdf2Lane& lane)
{
    lane.inner = work.innerPad;
    Sha256Compress(impl, lane.inner, lane.innerBlock);
    std::copy(lane.inner.begin(), lane.inner.end(), lane.outerBlock.begin());
    lane.outer = work.outerPad;
    Sha256Compress(impl, lane.outer, lane.outerBlock);
    FinishIteration(lane);
}

void IteratePair(Sha256Impl impl, Pbkdf2Work& work)
{
    Pbkdf2Lane& a = work.lanes[0];
    Pbkdf2Lane& b = work.lanes[1];
    a.inner = b.inner = work.innerPad;
    Sha256Compress2(impl, a.inner, a.innerBlock, b.inner, b.innerBlock);
    std::copy(a.inner.begin(), a.inner.end(), a.outerBlock.begin());
    std::copy(b.inner.begin(), b.inner.end(), b.outerBlock.begin());
    a.outer = b.outer = work.outerPad;
    Sha256Compress2(impl, a.outer, a.outerBlock, b.outer, b.outerBlock);
    FinishIteration(a);
    FinishIteration(b);
}

}  // namespace

void MdHandleCloser::operator()(gcry_md_handle* handle) const
{
    gcry_md_close(handle);
}

void Sha256Init(Sha256Context& context)
{
    context.handle = OpenMd(GCRY_MD_SHA256, 0);
}

void Sha256Update(Sha256Context& context, std::span<const std::uint8_t> data)
{
    if (!data.empty()) gcry_md_write(context.handle.get(), data.data(), data.size());
}

void Sha256Final(Sha256Context& context, std::span<std::uint8_t, 32> digest)
{
    CopyDigest(context.handle.get(), digest);
    context.handle.reset();
}

void HmacSha256Init(HmacSha256Context& context, std::span<const std::uint8_t> key)
{
    context.handle = OpenMd(GCRY_MD_SHA256, GCRY_MD_FLAG_HMAC);
    // HMAC pads the key with zeros to the block size, so an empty key equals one zero byte;
    // passing that keeps a null pointer away from libgcrypt.
    static const std::uint8_t zero = 0;
    const bool empty = key.empty();
    if (gcry_md_setkey(context.handle.get(), empty ? &zero : key.data(), empty ? 1 : key.size()) != 0) std::abort();
}

void HmacSha256Update(HmacSha256Context& context, std::span<const std::uint8_t> data)
{
    if (!data.empty()) gcry_md_write(context.handle.get(), data.data(), data.size());
}

void HmacSha256Final(HmacSha256Context& context, std::span<std::uint8_t, 32> mac)
{
    CopyDigest(context.handle.get(), mac);
    context.handle.reset();
}

void HmacSha256(std::span<const std::uint8_t> key, std::span<const std::uint8_t> message,
                std::span<std::uint8_t, 32> mac)
{
    HmacSha256Context context;
    HmacSha256Init(context, key);
    HmacSha256Update(context, message);
    HmacSha256Final(context, mac);
}

void Pbkdf2HmacSha256(std::span<const std::uint8_t> password, std::span<const std::uint8_t> salt,
                      std::uint32_t iterations, std::span<std::uint8_t> output)
{
    if (output.empty()) return;
    const Sha256Impl impl = Sha256SelectedImpl();
    Pbkdf2Work work;
    MakeHmacPads(impl, password, work);
    // Output blocks are independent; taking them two at a time lets SHA-NI interleave them.
    for (std::uint32_t block = 1; !output.empty(); block += 2) {
        StartLane(impl, work, salt, block, work.lanes[0]);
        const bool pair = output.size() > 32;
        if (pair) {
            StartLane(impl, work, salt, block + 1, work.lanes[1]);
            for (std::uint32_t i = 1; i < iterations; ++i)
                IteratePair(impl, work);
        } else {
            for (std::uint32_t i = 1; i < iterations; ++i)
                IterateOne(impl, work, work.lanes[0]);
        }
        for (std::size_t lane = 0; lane < (pair ? 2 : 1); ++lane) {
            Sha256StoreState(work.lanes[lane].t, std::span(work.bytes).first<32>());
            const std::size_t n = std::min<std::size_t>(output.size(), 32);
            std::copy_n(work.bytes.begin(), n, output.begin());
            output = output.subspan(n);
        }
    }
}

bool Md5(std::span<const std::uint8_t> data, std::span<std::uint8_t, 16> digest)
{
    EnsureGcrypt();
    if (gcry_md_test_algo(GCRY_MD_MD5) != 0) return false;
    gcry_md_hash_buffer(GCRY_MD_MD5, digest.data(), data.data(), data.size());
    return true;
}

}  // namespace quillix::crypto
