#pragma once

#include "common/result.h"
#include "crypto/secure_memory.h"
#include "imaging/gif_animation.h"
#include "imaging/gif_codec.h"

#include <QImage>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillix::container {
class FileCrypto;
}

namespace quillix::viewer {

// A file's bytes kept for the WebP player, in guarded memory as they may be a decrypted picture.
struct WebPBytes {
    crypto::SecureBytes bytes;

    explicit WebPBytes(crypto::SecureBytes data) : bytes(std::move(data)) {}
    WebPBytes(const WebPBytes&) = delete;
    WebPBytes& operator=(const WebPBytes&) = delete;
};

// What one file shows: a still picture, an animated GIF, or an animated WebP for the player.
struct LoadedPicture {
    QImage still;
    std::optional<imaging::GifAnimation> gif;
    // A plain GIF always loops; a decrypted one keeps the loop count of its file.
    imaging::GifOrigin gifOrigin = imaging::GifOrigin::Plain;
    // A JPEG XL animation in `gif`: it keeps its own timing at the WebP player's speed, where a
    // GIF plays at the GIF speed.
    bool playerSpeed = false;
    // A multi-page TIFF shows its first page and says how many there are.
    int pages = 1;
    // An animated WebP, still undecoded: the player decodes it frame by frame as it plays.
    std::shared_ptr<const WebPBytes> webpAnimation;
    // Named .webp, and decoded from a container: together they pick a WebP failure's text.
    bool webp = false;
    bool encrypted = false;
};

// What a container the viewer cannot open says on its lock screen: without a password, and when
// the password of the run does not open it.
inline constexpr const char* kLockedNoPassword = "Encrypted picture: press Ctrl+Shift+P to type the password";
inline constexpr const char* kLockedWrongPassword = "The password does not open this picture";

// Decodes `path` the way the viewer shows it, touching no window, so it may run on a worker
// thread. A container is decrypted into memory with the password of the run as it stands when
// the call starts; nothing is asked and nothing is written to disk. On failure the error's
// message is the notice the viewer shows ("Decrypt failed (file error).", ...); a container
// that wants another password fails with ErrorKind::Cancelled (no password) or WrongPassword
// and the lock screen's text.
Result<LoadedPicture> LoadPicture(const std::string& path, const container::FileCrypto& crypto, bool fileNamePW);

// A failure of LoadPicture that the right password would mend: the viewer shows the lock screen.
bool WantsPassword(const Error& error);

// What a WebP the player could not start says.
const char* WebPFailureText(bool encrypted);

}  // namespace quillix::viewer
