// SPDX-License-Identifier: MIT
// Exported frame: version information, the per-thread last-error text and release of the
// strings the producing functions return.
#include "internal.h"
#include "ntsrch.h"

#include <cstdlib>
#include <cstring>

namespace {

// The buffer is reserved when the module is loaded or the thread starts, so no call can
// ever meet a failed lazy TLS allocation (which would abort the host): initial-exec on ELF,
// the loader-managed .tls section on Windows. mingw GCC has only emulated TLS, which
// allocates on first touch, hence clang there.
#if defined(__ELF__)
#define NTSRCH_RESERVED_TLS __attribute__((tls_model("initial-exec")))
#elif defined(_WIN32) && defined(__GNUC__) && !defined(__clang__)
#error "mingw GCC emulates TLS with allocation on first use: build the DLL with clang"
#else
#define NTSRCH_RESERVED_TLS
#endif

// A plain char array needs no constructor or destructor, so the module stays unloadable.
thread_local char g_last_err[NTSRCH_ERR_CAPACITY] NTSRCH_RESERVED_TLS;

} // namespace

namespace ntsrch {

void set_error(const char *msg) noexcept {
    size_t n = std::strlen(msg);
    if (n >= NTSRCH_ERR_CAPACITY) n = NTSRCH_ERR_CAPACITY - 1;
    std::memcpy(g_last_err, msg, n);
    g_last_err[n] = '\0';
}

void clear_error() noexcept {
    g_last_err[0] = '\0';
}

} // namespace ntsrch

extern "C" {

NTSRCH_API const char *ntsrch_version(void) {
    return NTSRCH_VERSION_STRING;
}

NTSRCH_API int ntsrch_abi_version(void) {
    return NTSRCH_ABI_VERSION;
}

NTSRCH_API const char *ntsrch_last_error(void) {
    return g_last_err;
}

NTSRCH_API void ntsrch_free(void *p) {
    std::free(p);
}

} // extern "C"
