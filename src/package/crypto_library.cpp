#include "package/crypto_library.h"

#include <gcrypt.h>

#include <mutex>

void EnsureCryptoLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        // The version check also initialises the library's internals; it
        // must come before any other call.
        gcry_check_version(GCRYPT_VERSION);
        // The file key is compiled into the program, so locked secure memory
        // would protect nothing and only produce warnings without privileges.
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    });
}
