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
    std::optional<std::string> typed = dialogs_.AskPassword();
    if (!typed) return false;
    std::string password = TrimPassword(*typed);
    crypto::SecureWipe(*typed);
    if (password.empty()) return false;
    activePassword_ = std::move(password);
    if (hooks_.passwordEntered) hooks_.passwordEntered();
    return true;
}

void FileCrypto::ClearPassword()
{
    crypto::SecureWipe(activePassword_);
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
        return EncryptToContainer(p, activePassword_, o);
    });
}

std::string FileCrypto::DecryptFile(const std::string& path)
{
    return Run(path, false, [this](const std::string& p, const FileOptions& o) {
        return DecryptToPlainFile(p, activePassword_, o.FileNamePW);
    });
}

bool FileCrypto::DecryptToStream(const std::string& path, std::vector<std::uint8_t>& stream) const
{
    return container::DecryptToStream(path, activePassword_, CurrentOptions().FileNamePW, stream);
}

}  // namespace quillix::container
