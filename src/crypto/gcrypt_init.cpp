#include "crypto/gcrypt_init.h"

#include <gcrypt.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace quillix::crypto {

void EnsureGcrypt()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (!gcry_check_version(GCRYPT_VERSION)) {
            std::fprintf(stderr, "libgcrypt %s or newer is required, found %s\n", GCRYPT_VERSION,
                         gcry_check_version(nullptr));
            std::abort();
        }
        // Our keys live in our own buffers, which are wiped after use; libgcrypt's secure heap
        // would need mlock rights a desktop user seldom has and only warns without them.
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    });
}

}  // namespace quillix::crypto
