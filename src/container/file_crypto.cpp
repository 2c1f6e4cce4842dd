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
    std::optional<TypedPassword> typed = dialogs_.AskPassword(PasswordPrompt::Enter, {});
    if (!typed) return false;
    std::string password = TrimPassword(typed->text);
    crypto::SecureWipe(typed->text);
    if (password.empty()) return false;
    SetPassword(std::move(password), false);
    return true;
}

bool FileCrypto::EnsureConfirmedPassword()
{
    if (PasswordConfirmed()) return true;
    std::string active = ActivePassword();
    PasswordPrompt prompt = active.empty() ? PasswordPrompt::EnterTwice : PasswordPrompt::Repeat;
    std::string notice = prompt == PasswordPrompt::Repeat ? kRepeatPasswordNotice : "";
    for (;;) {
        std::optional<TypedPassword> typed = dialogs_.AskPassword(prompt, notice);
        if (!typed) {
            crypto::SecureWipe(active);
            return false;
        }
        std::string password = TrimPassword(typed->text);
        std::string repeated = prompt == PasswordPrompt::Repeat ? active : TrimPassword(typed->repeated);
        crypto::SecureWipe(typed->text);
        crypto::SecureWipe(typed->repeated);
        // A blank first field is no password, as in the one-field dialog.
        const bool blank = prompt == PasswordPrompt::EnterTwice && password.empty();
        const bool same = !blank && password == repeated;
        crypto::SecureWipe(repeated);
        if (blank) {
            crypto::SecureWipe(active);
            return false;
        }
        if (same) {
            if (prompt == PasswordPrompt::Repeat) {
                std::lock_guard lock(passwordMutex_);
                passwordConfirmed_ = true;
            } else {
                SetPassword(std::move(password), true);
            }
            crypto::SecureWipe(password);
            crypto::SecureWipe(active);
            return true;
        }
        crypto::SecureWipe(password);
        // Which of the two was mistyped cannot be told, so both are asked for again.
        prompt = PasswordPrompt::EnterTwice;
        notice = kPasswordsDifferNotice;
    }
}

void FileCrypto::SetPassword(std::string password, bool confirmed)
{
    {
        std::lock_guard lock(passwordMutex_);
        crypto::SecureWipe(activePassword_);
        activePassword_ = std::move(password);
        passwordConfirmed_ = confirmed;
        ++generation_;
    }
    if (hooks_.passwordEntered) hooks_.passwordEntered();
}

void FileCrypto::ConfirmPassword(std::uint64_t generation) const
{
    std::lock_guard lock(passwordMutex_);
    if (generation_ == generation && !activePassword_.empty()) passwordConfirmed_ = true;
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

bool FileCrypto::PasswordConfirmed() const
{
    std::lock_guard lock(passwordMutex_);
    return !activePassword_.empty() && passwordConfirmed_;
}

void FileCrypto::ClearPassword()
{
    std::lock_guard lock(passwordMutex_);
    crypto::SecureWipe(activePassword_);
    passwordConfirmed_ = false;
    ++generation_;
}

FileOptions FileCrypto::CurrentOptions() const
{
    return hooks_.options ? hooks_.options() : FileOptions{};
}

std::string FileCrypto::Run(const std::string& path, bool wantEncrypted, const Operation& operation)
{
    lastError_ = Error{ErrorKind::Io, {}};
    const bool nothingToDo = IsEncryptedFile(path) == wantEncrypted;
    if (wantEncrypted && !nothingToDo ? !EnsureConfirmedPassword() : !EnsurePassword(false)) {
        lastError_ = Error{ErrorKind::Unsupported, HasPassword() ? "password not confirmed" : "no password"};
        return {};
    }
    if (nothingToDo) return path;
    // The password the operation below reads.
    const std::uint64_t generation = generation_;
    if (hooks_.processPendingEvents) hooks_.processPendingEvents();

    const FileOptions options = CurrentOptions();
    const Result<std::string> result = operation(path, options);
    if (!result) {
        lastError_ = result.error();
        return {};
    }
    const std::string& made = result.value();
    // A container opened: the MAC vouches for the password.
    if (!wantEncrypted && made != path) ConfirmPassword(generation);
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

bool FileCrypto::DecryptToStream(const std::string& path, std::vector<std::uint8_t>& stream) const
{
    return DecryptToStream(path, CurrentOptions().FileNamePW, stream);
}

bool FileCrypto::DecryptToStream(const std::string& path, bool fileNamePW, std::vector<std::uint8_t>& stream) const
{
    std::uint64_t generation = 0;
    std::string password;
    {
        std::lock_guard lock(passwordMutex_);
        generation = generation_;
        password = activePassword_;
    }
    const bool ok = container::DecryptToStream(path, password, fileNamePW, stream);
    crypto::SecureWipe(password);
    if (ok) ConfirmPassword(generation);
    return ok;
}

}  // namespace quillix::container
