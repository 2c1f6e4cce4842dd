#pragma once

#include "common/dialogs.h"
#include "container/file_ops.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace quillix::container {

// Removes blanks and control characters around a typed password.
std::string TrimPassword(const std::string& text);

// What one in-place encryption or decryption did.
struct CryptOutcome {
    // The file that holds the picture now: the argument when there was nothing to do, empty on
    // failure.
    std::string path;
    // Why it failed.
    Error error{ErrorKind::Io, {}};
    // What the user is to be told after a success: the source could not be wiped
    // ("Secure overwrite failed."). Empty when all went as planned.
    std::string warning;
};

// EncryptFile and DecryptFile under a given password, asking and showing nothing, for worker
// threads: the source is securely deleted after a success, and what went wrong comes back in the
// outcome. `password` must not be empty.
CryptOutcome EncryptFileWith(const std::string& path, const std::string& password, const FileOptions& options);
CryptOutcome DecryptFileWith(const std::string& path, const std::string& password, const FileOptions& options);

// The password of the run and the in-place operations that need it: asks for the password
// when there is none, and securely deletes the source after a successful operation. The
// password is set and the operations run on the window thread; HasPassword, PasswordGeneration
// and the DecryptToStream that takes its options may be called from any thread.
class FileCrypto {
public:
    struct Hooks {
        // The options of the next operation, read at its start (the program re-reads "Fast"
        // from its settings store here).
        std::function<FileOptions()> options;
        // After a password was entered: the viewer reloads the shown picture with it.
        std::function<void()> passwordEntered;
        // After a source was deleted, for whoever watches the folder.
        std::function<void(const std::string& path)> folderChanged;
        // Lets the window repaint once before a long operation blocks it.
        std::function<void()> processPendingEvents;
    };

    FileCrypto(Dialogs& dialogs, Hooks hooks);
    ~FileCrypto();
    FileCrypto(const FileCrypto&) = delete;
    FileCrypto& operator=(const FileCrypto&) = delete;

    // True when a password is set afterwards; asks for one unless `noPrompt`. A blank answer
    // or a cancelled dialog leaves the password as it was.
    bool EnsurePassword(bool noPrompt);
    // A copy of the password; the caller wipes it.
    std::string ActivePassword() const;
    bool HasPassword() const;
    // Changes whenever the password is set or forgotten, so that work done under an older
    // password can be told apart.
    std::uint64_t PasswordGeneration() const { return generation_.load(); }
    // Forgets the password (Ctrl+Shift+P); the next operation asks again.
    void ClearPassword();

    // Encrypts `path` into its "$" container and securely deletes the plain file. The
    // container's path; `path` when it is encrypted already; empty on failure or without a
    // password.
    std::string EncryptFile(const std::string& path);
    // Decrypts a "$" container back into the plain file and securely deletes the container.
    std::string DecryptFile(const std::string& path);
    // The plain bytes of a container in memory, under the active password; nothing is asked.
    bool DecryptToStream(const std::string& path, std::vector<std::uint8_t>& stream) const;
    // The same with the file-name option given, for worker threads: the password is read once,
    // when the call starts, and no lock is held while the keys are derived.
    bool DecryptToStream(const std::string& path, bool fileNamePW, std::vector<std::uint8_t>& stream) const;

    // The options the next operation works with, read now.
    FileOptions OptionsForNextOperation() const { return CurrentOptions(); }

    // Why the last EncryptFile or DecryptFile failed, for callers that show a reason.
    const std::string& LastError() const { return lastError_.message; }
    const Error& LastFailure() const { return lastError_; }

private:
    using Operation = std::function<Result<std::string>(const std::string&, const FileOptions&)>;
    std::string Run(const std::string& path, bool wantEncrypted, const Operation& operation);
    FileOptions CurrentOptions() const;

    Dialogs& dialogs_;
    Hooks hooks_;
    mutable std::mutex passwordMutex_;
    std::string activePassword_;
    std::atomic<std::uint64_t> generation_{0};
    Error lastError_{ErrorKind::Io, {}};
};

}  // namespace quillix::container
