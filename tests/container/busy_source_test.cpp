// Another program writing the picture while it is encrypted, or the container while it is
// decrypted: what that program wrote and writes is never cut off and wiped, and no result that
// holds only part of it stays behind.
#include "common/paths.h"
#include "container/file_ops.h"
#include "container/secure_delete.h"
#include "container/work_files.h"
#include "crypto/ciphers.h"
#include "support/hex.h"
#include "support/temp_dir.h"
#include "support/writer_process.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <set>

namespace quillix::container {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;
using test::WriterProcess;
using Opening = WriterProcess::Opening;

constexpr const char* kPassword = "pw";

// New containers are of cipher `alg`: a compatible one, or the strong container.
FileOptions Quick(int alg)
{
    FileOptions options;
    options.EncryptionAlg = alg;
    options.Passes = 1;
    options.MaxKiB = 0;
    return options;
}

Bytes Plus(Bytes bytes, const std::string& text)
{
    bytes.insert(bytes.end(), text.begin(), text.end());
    return bytes;
}

// A folder with photo.jpg, or with only its container when the operation is a decryption: the
// source of the operation is then the container.
struct Folder {
    TempDir dir;
    bool encrypt;
    std::string source;
    Bytes before;

    Folder(bool encrypting, int alg) : encrypt(encrypting)
    {
        WriteFile(dir / "photo.jpg", test::PseudoRandomBytes(300'000));
        if (!encrypt) {
            const Result<InPlaceResult> sealed = EncryptInPlace(dir / "photo.jpg", kPassword, Quick(alg));
            if (!sealed) ADD_FAILURE() << sealed.error().message;
        }
        source = dir / (encrypt ? "photo.jpg" : "$photo.jpg");
        before = ReadFile(source);
    }

    Result<InPlaceResult> Run(const FileOptions& options) const
    {
        return encrypt ? EncryptInPlace(source, kPassword, options) : DecryptInPlace(source, kPassword, options);
    }

    // Where the source is now: at SourceAside it has its wipe name, under which a writer that
    // opened it before it moved still reaches it.
    std::string Current() const
    {
        for (const std::string& name : test::FileNames(dir))
            if (IsWorkFileName(name) && name.ends_with(".wipe")) return dir / name;
        return source;
    }

    // Only the source is there: no result, no temporary file, no wipe file.
    std::set<std::string> OnlySource() const { return {FileNameOf(source)}; }
};

// Every test runs with a compatible cipher and with the strong container.
class BusySource : public testing::TestWithParam<int> {};

INSTANTIATE_TEST_SUITE_P(Formats, BusySource, testing::Values(crypto::CipherAes, crypto::CipherStrong),
                         [](const testing::TestParamInfo<int>& alg) {
                             return alg.param == crypto::CipherStrong ? "Strong" : "Compatible";
                         });

const char* Verb(bool encrypt)
{
    return encrypt ? "encrypt" : "decrypt";
}

TEST_P(BusySource, AFileOpenForWritingIsRefusedAndNothingIsWritten)
{
    for (const bool encrypt : {true, false}) {
        SCOPED_TRACE(Verb(encrypt));
        const Folder folder(encrypt, GetParam());
        WriterProcess writer = WriterProcess::Start(folder.source, Opening::Now);
        ASSERT_TRUE(writer.started());
        ASSERT_TRUE(writer.Append("first"));

        const Result<InPlaceResult> done = folder.Run(Quick(GetParam()));
        ASSERT_FALSE(done.ok());
        EXPECT_EQ(done.error().kind, ErrorKind::Io);
        EXPECT_NE(done.error().message.find(folder.source + " is in use by another program"), std::string::npos)
            << done.error().message;
        EXPECT_EQ(test::FileNames(folder.dir), folder.OnlySource());

        ASSERT_TRUE(writer.Append("second"));
        writer.Close();
        EXPECT_EQ(ReadFile(folder.source), Plus(folder.before, "firstsecond"));
        // Once the writer has closed it, it is worked on: a container that was written to no
        // longer passes its MAC.
        const Result<InPlaceResult> again = folder.Run(Quick(GetParam()));
        if (encrypt)
            EXPECT_TRUE(again.ok());
        else
            EXPECT_EQ(again.error().kind, ErrorKind::WrongPassword);
    }
}

// The writer opens the file at each moment the operation looks: it waits in its open until the
// operation lets go, the operation takes back what it made, and the writer then appends.
TEST_P(BusySource, AWriterThatOpensDuringTheRunKeepsTheFileAndTheResultGoes)
{
    const LeaseCheck moments[] = {LeaseCheck::Reading, LeaseCheck::ResultWritten, LeaseCheck::ResultNamed,
                                  LeaseCheck::SourceLeaving, LeaseCheck::SourceAside};
    for (const bool encrypt : {true, false}) {
        for (const LeaseCheck moment : moments) {
            SCOPED_TRACE(testing::Message() << Verb(encrypt) << ", writer at check " << static_cast<int>(moment));
            const Folder folder(encrypt, GetParam());
            WriterProcess writer;
            FileOptions options = Quick(GetParam());
            options.onLeaseCheck = [&](LeaseCheck at) {
                if (at == moment && !writer.started())
                    writer = WriterProcess::Start(folder.Current(), Opening::AfterLease);
            };

            const Result<InPlaceResult> done = folder.Run(options);
            ASSERT_TRUE(writer.leaseBroken()) << "the writer found the file leased";
            ASSERT_FALSE(done.ok());
            EXPECT_EQ(done.error().kind, ErrorKind::Io);
            EXPECT_NE(done.error().message.find(folder.source + " was opened for writing by another program"),
                      std::string::npos)
                << done.error().message;
            EXPECT_EQ(test::FileNames(folder.dir), folder.OnlySource());

            ASSERT_TRUE(writer.Append("appended")) << "the writer goes on once the operation has let go";
            writer.Close();
            EXPECT_EQ(ReadFile(folder.source), Plus(folder.before, "appended"));
            EXPECT_EQ(test::FileNames(folder.dir), folder.OnlySource());
        }
    }
}

// Operations on other files of the folder (a batch runs several at once) look for leftovers as
// they start, and find the source under its wipe name while the lease is still held: looking is
// no writing, and the operation goes through.
TEST_P(BusySource, LookingForLeftoversMeanwhileIsNoWriter)
{
    for (const bool encrypt : {true, false}) {
        SCOPED_TRACE(Verb(encrypt));
        const Folder folder(encrypt, GetParam());
        int finished = -1;
        FileOptions options = Quick(GetParam());
        options.onLeaseCheck = [&](LeaseCheck at) {
            if (at == LeaseCheck::SourceAside) finished = FinishLeftovers(folder.dir.path() + "/", 1);
        };
        const Result<InPlaceResult> done = folder.Run(options);
        ASSERT_TRUE(done.ok()) << done.error().message;
        EXPECT_TRUE(done.value().wipe.ok());
        EXPECT_EQ(finished, 0) << "the source in use is no leftover";
        EXPECT_EQ(test::FileNames(folder.dir), std::set<std::string>{encrypt ? "$photo.jpg" : "photo.jpg"});
    }
}

// Takes CAP_LEASE from this thread's effective capabilities while it lives, so that a file of
// another user gets no lease, as on a file system without leases.
class WithoutLeaseCapability {
public:
    WithoutLeaseCapability()
    {
        if (::syscall(SYS_capget, &header_, data_) != 0) return;
        had_ = (data_[0].effective & kBit) != 0;
        data_[0].effective &= ~kBit;
        if (had_) had_ = ::syscall(SYS_capset, &header_, data_) == 0;
    }
    ~WithoutLeaseCapability()
    {
        if (!had_) return;
        data_[0].effective |= kBit;
        (void)::syscall(SYS_capset, &header_, data_);
    }
    bool dropped() const { return had_; }

private:
    static constexpr std::uint32_t kBit = 1u << CAP_LEASE;
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data_[_LINUX_CAPABILITY_U32S_3]{};
    bool had_ = false;
};

// Without a lease the size and times stand in for it: a write at any of the checks is seen, and
// an untouched file is worked on as usual.
TEST_P(BusySource, WithoutALeaseAWriteBeforeTheWipeIsSeen)
{
    if (::geteuid() != 0) GTEST_SKIP() << "needs a file of another user, which only root can make";
    const std::optional<LeaseCheck> moments[] = {std::nullopt,
                                                 LeaseCheck::Reading,
                                                 LeaseCheck::ResultWritten,
                                                 LeaseCheck::ResultNamed,
                                                 LeaseCheck::SourceLeaving,
                                                 LeaseCheck::SourceAside};
    for (const bool encrypt : {true, false}) {
        for (const std::optional<LeaseCheck> moment : moments) {
            SCOPED_TRACE(testing::Message() << Verb(encrypt) << ", write at check " << (moment ? int(*moment) : -1));
            const Folder folder(encrypt, GetParam());
            ASSERT_EQ(::chown(folder.source.c_str(), 65534, 65534), 0);
            // Without a lease a writer that has the file open is not seen until it writes.
            WriterProcess writer = WriterProcess::Start(folder.source, Opening::Now);
            ASSERT_TRUE(writer.started());
            bool wrote = false;
            FileOptions options = Quick(GetParam());
            options.onLeaseCheck = [&](LeaseCheck at) {
                if (moment && at == *moment && !wrote) wrote = writer.Append("appended");
            };

            const WithoutLeaseCapability noLease;
            if (!noLease.dropped()) GTEST_SKIP() << "CAP_LEASE cannot be dropped here";
            const Result<InPlaceResult> done = folder.Run(options);
            writer.Close();
            if (!moment) {
                ASSERT_TRUE(done.ok()) << done.error().message;
                EXPECT_TRUE(done.value().wipe.ok());
                continue;
            }
            ASSERT_TRUE(wrote);
            ASSERT_FALSE(done.ok());
            EXPECT_NE(done.error().message.find(folder.source + " was changed by another program"), std::string::npos)
                << done.error().message;
            EXPECT_EQ(ReadFile(folder.source), Plus(folder.before, "appended"));
            EXPECT_EQ(test::FileNames(folder.dir), folder.OnlySource());
        }
    }
}

// The name a source leaves for its wipe can be taken by a new file before the source would go
// back to it: the source is then kept under a free name next to it, never under its wipe name.
TEST_P(BusySource, ASourceWhoseNameWasTakenMeanwhileKeepsAVisibleName)
{
    const Folder folder(true, GetParam());
    WriterProcess writer;
    FileOptions options = Quick(GetParam());
    options.onLeaseCheck = [&](LeaseCheck at) {
        if (at != LeaseCheck::SourceAside || writer.started()) return;
        // The writer had opened the picture before it left its name; another file takes the name.
        writer = WriterProcess::Start(folder.Current(), Opening::AfterLease);
        WriteFile(folder.source, "a new file");
    };
    const Result<InPlaceResult> done = folder.Run(options);
    ASSERT_FALSE(done.ok());
    EXPECT_NE(done.error().message.find("it was kept as photo (2).jpg"), std::string::npos) << done.error().message;
    ASSERT_TRUE(writer.Append("appended"));
    writer.Close();
    EXPECT_EQ(test::FileNames(folder.dir), (std::set<std::string>{"photo.jpg", "photo (2).jpg"}));
    EXPECT_EQ(ReadFile(folder.dir / "photo (2).jpg"), Plus(folder.before, "appended"));
    EXPECT_EQ(ReadFile(folder.source), test::Bytes("a new file"));
}

}  // namespace
}  // namespace quillix::container
