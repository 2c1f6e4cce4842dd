#include "container/file_crypto.h"

#include "common/text.h"
#include "container/container_file.h"
#include "container/secure_delete.h"
#include "crypto/secure.h"

#include <sys/stat.h>

namespace quillix::container {
namespace {

bool Exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

std::string TrimPassword(const std::string& text)
{
    return TrimBlanksAndControls(text);
}

FileCrypto::FileCrypto(Dialogs& dialogs, Hooks hooks) : dialogs_(dialogs), hooks_(std::move(hooks)) {}

FileCrypto::~FileCrypto()
{
    crypto::SecureWipe(activePassword_);
}

bool FileCrypto::EnsurePassword(bool noPrompt)
{
    if (HasPassword()) return true;
    if (noPrompt) return false;
    std::optional<std::string> typed = dialogs_.AskPassword();
    if (!typed) return false;
    std::string password = TrimPassword(*typed);
    crypto::SecureWipe(*typed);
    if (password.empty()) return false;
    {
        std::lock_guard lock(passwordMutex_);
        crypto::SecureWipe(activePassword_);
        activePassword_ = std::move(password);
        ++generation_;
    }
    if (hooks_.passwordEntered) hooks_.passwordEntered();
    return true;
}

std::string FileCrypto::ActivePassword() const
{
    std::lock_guard lock(passwordMutex_);
    return activePassword_;
}

bool FileCrypto::HasPassword() const
{
    std::lock_guard lock(passwordMutex_);
    return !activePassword_.empty();
}

void FileCrypto::ClearPassword()
{
    std::lock_guard lock(passwordMutex_);
    crypto::SecureWipe(activePassword_);
    ++generation_;
}

FileOptions FileCrypto::CurrentOptions() const
{
    return hooks_.options ? hooks_.options() : FileOptions{};
}

std::string FileCrypto::Run(const std::string& path, bool wantEncrypted, const Operation& operation)
{
    lastError_ = Error{ErrorKind::Io, {}};
    if (!EnsurePassword(false)) {
        lastError_ = Error{ErrorKind::Unsupported, "no password"};
        return {};
    }
    if (IsEncryptedFile(path) == wantEncrypted) return path;
    if (hooks_.processPendingEvents) hooks_.processPendingEvents();

    const FileOptions options = CurrentOptions();
    const Result<std::string> result = operation(path, options);
    if (!result) {
        lastError_ = result.error();
        return {};
    }
    const std::string& made = result.value();
    // Only a complete result in the wanted state may cost the source its existence.
    if (made != path && Exists(made) && IsEncryptedFile(made) == wantEncrypted && Exists(path)) {
        if (!SecureDeleteFile(path, options.Passes))
            dialogs_.ShowMessage("Warning", "Secure overwrite failed.", MessageIcon::Warning, MessageButtons::Ok);
        if (hooks_.folderChanged) hooks_.folderChanged(path);
    }
    return made;
}

std::string FileCrypto::EncryptFile(const std::string& path)
{
    return Run(path, true, [this](const std::string& p, const FileOptions& o) {
        std::string password = ActivePassword();
        Result<std::string> made = EncryptToContainer(p, password, o);
        crypto::SecureWipe(password);
        return made;
    });
}

std::string FileCrypto::DecryptFile(const std::string& path)
{
    return Run(path, false, [this](const std::string& p, const FileOptions& o) {
        std::string password = ActivePassword();
        Result<std::string> made = DecryptToPlainFile(p, password, o.FileNamePW);
        crypto::SecureWipe(password);
        return made;
    });
}

namespace {

CryptOutcome InPlaceWith(const std::string& path, bool encrypt, const std::string& password, const FileOptions& options)
{
    CryptOutcome outcome;
    if (password.empty()) {
        outcome.error = Error{ErrorKind::Unsupported, "no password"};
        return outcome;
    }
    if (IsEncryptedFile(path) == encrypt) {
        outcome.path = path;
        return outcome;
    }
    Result<std::string> made =
        encrypt ? EncryptToContainer(path, password, options) : DecryptToPlainFile(path, password, options.FileNamePW);
    if (!made) {
        outcome.error = made.error();
        return outcome;
    }
    outcome.path = std::move(made.value());
    // Only a complete result in the wanted state may cost the source its existence.
    if (outcome.path != path && Exists(outcome.path) && IsEncryptedFile(outcome.path) == encrypt && Exists(path) &&
        !SecureDeleteFile(path, options.Passes))
        outcome.warning = "Secure overwrite failed.";
    return outcome;
}

}  // namespace

CryptOutcome EncryptFileWith(const std::string& path, const std::string& password, const FileOptions& options)
{
    return InPlaceWith(path, true, password, options);
}

CryptOutcome DecryptFileWith(const std::string& path, const std::string& password, const FileOptions& options)
{
    return InPlaceWith(path, false, password, options);
}

bool FileCrypto::DecryptToStream(const std::string& path, std::vector<std::uint8_t>& stream) const
{
    return DecryptToStream(path, CurrentOptions().FileNamePW, stream);
}

bool FileCrypto::DecryptToStream(const std::string& path, bool fileNamePW, std::vector<std::uint8_t>& stream) const
{
    std::string password = ActivePassword();
    const bool ok = container::DecryptToStream(path, password, fileNamePW, stream);
    crypto::SecureWipe(password);
    return ok;
}

}  // namespace quillix::container
