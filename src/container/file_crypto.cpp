#include "container/file_crypto.h"

#include "common/text.h"
#include "container/container_file.h"
#include "container/key_derivation.h"
#include "crypto/secure.h"

namespace quillix::container {

std::string TrimPassword(const std::string& text)
{
    return TrimBlanksAndControls(text);
}

FileCrypto::FileCrypto(Dialogs& dialogs, Hooks hooks) : dialogs_(dialogs), hooks_(std::move(hooks)) {}

FileCrypto::~FileCrypto() = default;

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
        activePassword_ = crypto::ToSecureString(password.data(), password.size());
        passwordConfirmed_ = confirmed;
        ++generation_;
    }
    crypto::SecureWipe(password);
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
    return std::string(activePassword_.data(), activePassword_.size());
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
    {
        std::lock_guard lock(passwordMutex_);
        crypto::Forget(activePassword_);
        passwordConfirmed_ = false;
        ++generation_;
    }
    // The cached keys open every container the password opened.
    ClearKeyCache();
    if (hooks_.passwordForgotten) hooks_.passwordForgotten();
}

FileOptions FileCrypto::CurrentOptions() const
{
    return hooks_.options ? hooks_.options() : FileOptions{};
}

CryptOutcome FileCrypto::Run(const std::string& path, bool encrypt)
{
    // Only a file that is to become a container needs a password known good; whether there is
    // anything to do at all is the operation's to say.
    const bool encrypting = encrypt && !IsEncryptedFile(path);
    if (encrypting ? !EnsureConfirmedPassword() : !EnsurePassword(false)) {
        CryptOutcome refused;
        refused.error = Error{ErrorKind::Cancelled, HasPassword() ? "password not confirmed" : "no password"};
        return refused;
    }
    // The password the operation below reads.
    const std::uint64_t generation = generation_;
    if (hooks_.processPendingEvents) hooks_.processPendingEvents();

    const FileOptions options = CurrentOptions();
    std::string password = ActivePassword();
    CryptOutcome outcome =
        encrypt ? EncryptFileWith(path, password, options) : DecryptFileWith(path, password, options);
    crypto::SecureWipe(password);
    if (outcome.ok() && outcome.path != path) {
        // A container opened: the MAC vouches for the password.
        if (!encrypt) ConfirmPassword(generation);
        if (!outcome.warning.empty())
            dialogs_.ShowMessage("Warning", outcome.warning, MessageIcon::Warning, MessageButtons::Ok);
    }
    return outcome;
}

CryptOutcome FileCrypto::Encrypt(const std::string& path)
{
    return Run(path, true);
}

CryptOutcome FileCrypto::Decrypt(const std::string& path)
{
    return Run(path, false);
}

namespace {

CryptOutcome InPlaceWith(const std::string& path, bool encrypt, const std::string& password, const FileOptions& options)
{
    CryptOutcome outcome;
    if (password.empty()) {
        outcome.error = Error{ErrorKind::Cancelled, "no password"};
        return outcome;
    }
    Result<InPlaceResult> done =
        encrypt ? EncryptInPlace(path, password, options) : DecryptInPlace(path, password, options);
    if (!done) {
        outcome.error = done.error();
        return outcome;
    }
    outcome.result = std::move(done.value());
    outcome.path = outcome.result.path;
    if (outcome.path != path) outcome.warning = SourceWarning(path, outcome.result, encrypt);
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

bool FileCrypto::DecryptToStream(const std::string& path, crypto::SecureBytes& stream) const
{
    return DecryptToStream(path, CurrentOptions().FileNamePW, stream);
}

bool FileCrypto::DecryptToStream(const std::string& path, bool fileNamePW, crypto::SecureBytes& stream) const
{
    Result<crypto::SecureBytes> plain = OpenContainer(path, fileNamePW);
    crypto::SecureWipe(stream.data(), stream.size());
    stream.clear();
    if (!plain) return false;
    stream = std::move(plain.value());
    return true;
}

Result<crypto::SecureBytes> FileCrypto::OpenContainer(const std::string& path, bool fileNamePW) const
{
    std::uint64_t generation = 0;
    std::string password;
    {
        std::lock_guard lock(passwordMutex_);
        generation = generation_;
        password.assign(activePassword_.data(), activePassword_.size());
    }
    if (password.empty()) return MakeError(ErrorKind::Cancelled, "no password given");
    Result<crypto::SecureBytes> plain = container::DecryptContainerFile(path, password, fileNamePW);
    crypto::SecureWipe(password);
    if (plain) ConfirmPassword(generation);
    return plain;
}

}  // namespace quillix::container
