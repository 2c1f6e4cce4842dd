#pragma once

#include "common/dialogs.h"
#include "container/file_ops.h"
#include "crypto/secure_memory.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace quillix::container {

// Removes blanks and control characters around a typed password.
std::string TrimPassword(const std::string& text);

// What the "Password" dialog says when it asks for a password to be typed again.
inline constexpr const char* kRepeatPasswordNotice = "Type the password again to encrypt with it.";
inline constexpr const char* kPasswordsDifferNotice = "The passwords differ. Type the password twice.";

// What one in-place encryption or decryption did.
struct CryptOutcome {
    // The file that holds the picture now: the argument when there was nothing to do, empty on
    // failure.
    std::string path;
    // Why it failed.
    Error error{ErrorKind::Io, {}};
    // What a success did, the source's wipe included.
    InPlaceResult result;
    // What the user is to be told about the source of a success (SourceWarning): other hard
    // links still hold it, or "Secure overwrite failed." and why. Empty when all went as planned.
    std::string warning;

    bool ok() const { return !path.empty(); }
};

// EncryptInPlace and DecryptInPlace under a given password with their outcome in one value:
// nothing is asked or shown and nothing is kept, so any thread may call them. An empty password
// gives ErrorKind::Cancelled.
CryptOutcome EncryptFileWith(const std::string& path, const std::string& password, const FileOptions& options);
CryptOutcome DecryptFileWith(const std::string& path, const std::string& password, const FileOptions& options);

// The password of the run and the in-place operations that need it: asks for the password
// when there is none, and tells the user when the source of a successful operation could not
// be wiped as planned. A password encrypts only once it is known good, since a typo would lock
// the pictures away for good: it has opened a container in this run, or it was typed twice
// alike. The password is set and the operations run on the window thread; ActivePassword,
// HasPassword, PasswordGeneration and the DecryptToStream that takes its options may be called
// from any thread.
class FileCrypto {
public:
    struct Hooks {
        // The options of the next operation, read at its start, so that a setting changed between
        // two operations counts from the next one on.
        std::function<FileOptions()> options;
        // After a password was entered: the viewer reloads the shown picture with it.
        std::function<void()> passwordEntered;
        // Lets the window repaint once before a long operation blocks it.
        std::function<void()> processPendingEvents;
        // After the password was forgotten: whatever was decrypted with it goes.
        std::function<void()> passwordForgotten;
    };

    FileCrypto(Dialogs& dialogs, Hooks hooks);
    ~FileCrypto();
    FileCrypto(const FileCrypto&) = delete;
    FileCrypto& operator=(const FileCrypto&) = delete;

    // True when a password is set afterwards; asks for one unless `noPrompt`. A blank answer
    // or a cancelled dialog leaves the password as it was.
    bool EnsurePassword(bool noPrompt);
    // True when the password may encrypt afterwards. Asks for what is missing: the password
    // twice when there is none, its repetition when it was typed once; when the two differ,
    // says so and asks for both again. Cancelling leaves the password as it was.
    bool EnsureConfirmedPassword();
    // A copy of the password; the caller wipes it.
    std::string ActivePassword() const;
    bool PasswordConfirmed() const;
    bool HasPassword() const;
    // Changes whenever the password is set or forgotten, so that work done under an older
    // password can be told apart.
    std::uint64_t PasswordGeneration() const { return generation_.load(); }
    // Forgets the password (Ctrl+Shift+P) and the keys cached for containers; the next operation
    // asks again.
    void ClearPassword();

    // Encrypts `path` into its "$" container and securely deletes the plain file
    // (EncryptInPlace), asking for a confirmed password first. The outcome's path is the
    // container's; `path` when it is encrypted already or another run finished with it
    // meanwhile; empty on failure or without a password (ErrorKind::Cancelled). When the plain
    // file was not wiped as planned, a "Warning" message box says what happened to it.
    CryptOutcome Encrypt(const std::string& path);
    // Decrypts a "$" container back into the plain file and securely deletes the container
    // (DecryptInPlace), reporting as Encrypt does. Opening the container confirms the password.
    CryptOutcome Decrypt(const std::string& path);
    // The paths of Encrypt and Decrypt.
    std::string EncryptFile(const std::string& path) { return Encrypt(path).path; }
    std::string DecryptFile(const std::string& path) { return Decrypt(path).path; }
    // The plain bytes of a container in memory, under the active password; nothing is asked.
    // Opening a container confirms the password it opened.
    bool DecryptToStream(const std::string& path, crypto::SecureBytes& stream) const;
    // The same with the file-name option given, for worker threads: the password is read once,
    // when the call starts, and no lock is held while the keys are derived.
    bool DecryptToStream(const std::string& path, bool fileNamePW, crypto::SecureBytes& stream) const;
    // The same with the reason of a failure: ErrorKind::Cancelled while no password is set,
    // WrongPassword when the password does not open the container (or its MAC finds it damaged).
    Result<crypto::SecureBytes> OpenContainer(const std::string& path, bool fileNamePW) const;

    // The options the next operation works with, read now.
    FileOptions OptionsForNextOperation() const { return CurrentOptions(); }

    // A container opened under the password of `generation` (PasswordGeneration): it is known
    // good, unless it was replaced meanwhile.
    void ConfirmPassword(std::uint64_t generation) const;

private:
    CryptOutcome Run(const std::string& path, bool encrypt);
    FileOptions CurrentOptions() const;

    // Takes a trimmed, non-empty password as the active one.
    void SetPassword(std::string password, bool confirmed);

    Dialogs& dialogs_;
    Hooks hooks_;

    mutable std::mutex passwordMutex_;
    // In guarded memory, wiped when it changes or goes.
    crypto::SecureString activePassword_;
    std::atomic<std::uint64_t> generation_{0};
    // What a successful read learns about the password; guarded by passwordMutex_.
    mutable bool passwordConfirmed_ = false;
};

}  // namespace quillix::container
