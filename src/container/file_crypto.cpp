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
    if (!activePassword_.empty()) return true;
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
    PasswordPrompt prompt = activePassword_.empty() ? PasswordPrompt::EnterTwice : PasswordPrompt::Repeat;
    std::string notice = prompt == PasswordPrompt::Repeat ? kRepeatPasswordNotice : "";
    for (;;) {
        std::optional<TypedPassword> typed = dialogs_.AskPassword(prompt, notice);
        if (!typed) return false;
        std::string password = TrimPassword(typed->text);
        std::string repeated = prompt == PasswordPrompt::Repeat ? activePassword_ : TrimPassword(typed->repeated);
        crypto::SecureWipe(typed->text);
        crypto::SecureWipe(typed->repeated);
        // A blank first field is no password, as in the one-field dialog.
        const bool blank = prompt == PasswordPrompt::EnterTwice && password.empty();
        const bool same = !blank && password == repeated;
        crypto::SecureWipe(repeated);
        if (blank) return false;
        if (same) {
            if (prompt == PasswordPrompt::Repeat)
                passwordConfirmed_ = true;
            else
                SetPassword(std::move(password), true);
            crypto::SecureWipe(password);
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
    crypto::SecureWipe(activePassword_);
    activePassword_ = std::move(password);
    passwordConfirmed_ = confirmed;
    if (hooks_.passwordEntered) hooks_.passwordEntered();
}

void FileCrypto::ClearPassword()
{
    crypto::SecureWipe(activePassword_);
    passwordConfirmed_ = false;
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
        lastError_ = Error{ErrorKind::Unsupported, activePassword_.empty() ? "no password" : "password not confirmed"};
        return {};
    }
    if (nothingToDo) return path;
    if (hooks_.processPendingEvents) hooks_.processPendingEvents();

    const FileOptions options = CurrentOptions();
    const Result<std::string> result = operation(path, options);
    if (!result) {
        lastError_ = result.error();
        return {};
    }
    const std::string& made = result.value();
    // A container opened: the MAC vouches for the password.
    if (!wantEncrypted && made != path) passwordConfirmed_ = true;
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
        return EncryptToContainer(p, activePassword_, o);
    });
}

std::string FileCrypto::DecryptFile(const std::string& path)
{
    return Run(path, false, [this](const std::string& p, const FileOptions& o) {
        return DecryptToPlainFile(p, activePassword_, o.FileNamePW);
    });
}

bool FileCrypto::DecryptToStream(const std::string& path, std::vector<std::uint8_t>& stream)
{
    if (!container::DecryptToStream(path, activePassword_, CurrentOptions().FileNamePW, stream)) return false;
    if (!activePassword_.empty()) passwordConfirmed_ = true;
    return true;
}

}  // namespace quillix::container
