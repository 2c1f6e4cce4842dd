#pragma once

namespace quillix::crypto {

// Initialises libgcrypt once per process; every function of this library calls it, so callers
// need not. Safe to call from anywhere, any number of times.
void EnsureGcrypt();

}  // namespace quillix::crypto
