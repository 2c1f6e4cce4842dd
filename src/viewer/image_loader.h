#pragma once

#include "common/result.h"
#include "imaging/gif_animation.h"
#include "imaging/gif_codec.h"

#include <QImage>

#include <optional>
#include <string>

namespace quillix::container {
class FileCrypto;
}
namespace quillix::imaging {
class WebPPlayer;
}

namespace quillix::viewer {

// What one load puts on screen: a still picture, an animated GIF, or the player's frame.
struct LoadedPicture {
    QImage still;
    std::optional<imaging::GifAnimation> gif;
    // How many passes the GIF plays (0 without end) and at which percent of its own speed.
    int gifPassLimit = 0;
    int gifSpeedPercent = 100;
    // The WebP player holds the picture; `still` and `gif` are empty.
    bool webp = false;
};

// Loads `path` the way the viewer shows it. Encrypted files are decrypted into memory with the
// password of the run, which is never asked for here; nothing is written to disk. A WebP file,
// plain or decrypted, is handed to `player`. On failure the error's message is the text the viewer
// shows ("Unknwon error" before any password, "Decrypt failed (file error).", ...).
Result<LoadedPicture> LoadPicture(const std::string& path, container::FileCrypto& crypto, imaging::WebPPlayer& player);

}  // namespace quillix::viewer
