/* SPDX-License-Identifier: MIT */
/* Loading the module at run time, for this repository's C and C++ hosts (the tool and the
 * tests that load it themselves): open by path or by bare name, find a function, close.
 *
 *   char why[1024];
 *   loader_lib h = loader_open(path, why, sizeof why);   (NULL: why says why)
 *   loader_sym(h, "ntsrch_version", &fn);                 (0: not exported)
 *   loader_close(h);
 *
 * Before the platform's loader sees a file, its size is held against the extent its own
 * headers name (ELF program headers, PE sections, Mach-O segments): a partly copied module
 * kills the process with SIGBUS inside dlopen instead of failing. */
#ifndef NTSRCH_TOOLS_LOADER_H
#define NTSRCH_TOOLS_LOADER_H

#include <stdio.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

typedef void *loader_lib;

/* Reads n bytes at off into buf; 0 when the file has fewer. */
static inline int loader_read(FILE *f, unsigned long long off, unsigned char *buf, size_t n) {
    return fseek(f, (long)off, SEEK_SET) == 0 && fread(buf, 1, n, f) == n;
}

static inline unsigned long long loader_word(const unsigned char *p, int n, int little) {
    unsigned long long v = 0;
    for (int i = 0; i < n; ++i)
        v |= (unsigned long long)p[little ? i : n - 1 - i] << (8 * i);
    return v;
}

struct loader_extent {
    unsigned long long size, need;
};

static inline int loader_grow(struct loader_extent *e, unsigned long long n) {
    if (n > e->need) e->need = n;
    return e->size >= n;
}

/* The bytes the headers need (0: not a form checked here), given the file's size. Each
 * table is read only once the size shows it is there. */
static inline unsigned long long loader_header_extent(FILE *f, unsigned long long size) {
    unsigned char head[64] = {0}, b[64];
    struct loader_extent e = {size, 0};
    if (size < 8 || !loader_read(f, 0, head, size < 64 ? (size_t)size : 64)) return 0;
    if (memcmp(head,
               "\x7f"
               "ELF",
               4) == 0) {
        const int wide = head[4] == 2, le = head[5] == 1, w = wide ? 8 : 4;
        if (!loader_grow(&e, wide ? 64 : 52)) return e.need;
        const unsigned long long phoff = loader_word(head + (wide ? 32 : 28), w, le);
        const unsigned long long entry = loader_word(head + (wide ? 54 : 42), 2, le);
        const unsigned long long count = loader_word(head + (wide ? 56 : 44), 2, le);
        if (entry < (wide ? 56u : 32u) || entry > sizeof b ||
            !loader_grow(&e, phoff + entry * count))
            return e.need;
        for (unsigned long long i = 0; i < count; ++i) {
            if (!loader_read(f, phoff + i * entry, b, (size_t)entry)) break;
            loader_grow(&e, loader_word(b + (wide ? 8 : 4), w, le) +
                                loader_word(b + (wide ? 32 : 16), w, le));
        }
        return e.need;
    }
    if (head[0] == 'M' && head[1] == 'Z') {
        if (!loader_grow(&e, 64)) return e.need;
        const unsigned long long pe = loader_word(head + 0x3c, 4, 1);
        if (!loader_grow(&e, pe + 24) || !loader_read(f, pe, b, 24)) return e.need;
        if (memcmp(b, "PE\0\0", 4) != 0) return 0;
        const unsigned long long count = loader_word(b + 6, 2, 1);
        const unsigned long long table = pe + 24 + loader_word(b + 20, 2, 1);
        if (!loader_grow(&e, table + 40 * count)) return e.need;
        for (unsigned long long i = 0; i < count && loader_read(f, table + 40 * i, b, 40); ++i) {
            const unsigned long long raw = loader_word(b + 16, 4, 1);
            if (raw != 0) loader_grow(&e, loader_word(b + 20, 4, 1) + raw);
        }
        return e.need;
    }
    if (memcmp(head, "\xca\xfe\xba\xbe", 4) == 0) {
        const unsigned long long count = loader_word(head + 4, 4, 0);
        if (!loader_grow(&e, 8 + 20 * count)) return e.need;
        for (unsigned long long i = 0; i < count && loader_read(f, 8 + 20 * i, b, 20); ++i)
            loader_grow(&e, loader_word(b + 8, 4, 0) + loader_word(b + 12, 4, 0));
        return e.need;
    }
    const unsigned long long magic = loader_word(head, 4, 1);
    const int wide = magic == 0xfeedfacfu || magic == 0xcffaedfeu;
    if (!wide && magic != 0xfeedfaceu && magic != 0xcefaedfeu) return 0;
    const int le = magic == 0xfeedfacfu || magic == 0xfeedfaceu;
    const unsigned long long top = wide ? 32 : 28;
    if (!loader_grow(&e, top)) return e.need;
    const unsigned long long count = loader_word(head + 16, 4, le);
    const unsigned long long end = top + loader_word(head + 20, 4, le);
    if (!loader_grow(&e, end)) return e.need;
    unsigned long long at = top;
    for (unsigned long long i = 0; i < count && at + 8 <= end && loader_read(f, at, b, 8); ++i) {
        const unsigned long long cmd = loader_word(b, 4, le), len = loader_word(b + 4, 4, le);
        if (cmd == 0x19 && at + 56 <= end && loader_read(f, at, b, 56))
            loader_grow(&e, loader_word(b + 40, 8, le) + loader_word(b + 48, 8, le));
        else if (cmd == 0x1 && at + 40 <= end && loader_read(f, at, b, 40))
            loader_grow(&e, loader_word(b + 32, 4, le) + loader_word(b + 36, 4, le));
        if (len < 8) break;
        at += len;
    }
    return e.need;
}

/* 1 with the reason in why when the file at path is shorter than its headers need; 0 when
 * it is not, or cannot be opened (the loader then says why). */
static inline int loader_truncated(const char *path, char *why, size_t cap) {
    FILE *f = fopen(path, "rb");
    if (f == NULL) return 0;
    long size = fseek(f, 0, SEEK_END) == 0 ? ftell(f) : -1;
    const unsigned long long need =
        size < 0 ? 0 : loader_header_extent(f, (unsigned long long)size);
    fclose(f);
    if (size < 0 || need <= (unsigned long long)size) return 0;
    snprintf(why, cap, "truncated: %ld bytes, headers need %llu", size, need);
    return 1;
}

#ifdef _WIN32
static inline loader_lib loader_open(const char *path, char *why, size_t cap) {
    if (loader_truncated(path, why, cap)) return NULL;
    /* A path makes the module's own dependencies resolve beside it first. A bare name is
     * searched in the application's and the system's directories only: never the current
     * directory, where anyone may have left a DLL of that name. */
    const int absolute = strchr(path, '\\') != NULL || strchr(path, '/') != NULL;
    HMODULE h = LoadLibraryExA(
        path, NULL, absolute ? LOAD_WITH_ALTERED_SEARCH_PATH : LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (h == NULL) {
        DWORD code = GetLastError();
        char text[512] = "";
        DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                 code, 0, text, sizeof text, NULL);
        while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' '))
            text[--n] = '\0';
        snprintf(why, cap, "%s (error %lu)", text, (unsigned long)code);
    }
    return (loader_lib)h;
}

/* Writes the function's address into slot (a function pointer); 0 when not exported. */
static inline int loader_sym(loader_lib h, const char *name, void *slot) {
    FARPROC p = GetProcAddress((HMODULE)h, name);
    memcpy(slot, &p, sizeof p);
    return p != NULL;
}

static inline int loader_close(loader_lib h) {
    return FreeLibrary((HMODULE)h) ? 0 : -1;
}
#else
static inline loader_lib loader_open(const char *path, char *why, size_t cap) {
    if (loader_truncated(path, why, cap)) return NULL;
    void *h = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (h == NULL) {
        const char *err = dlerror();
        size_t n = strlen(path);
        if (err == NULL) err = "unknown error";
        /* Callers name the path already. */
        if (strncmp(err, path, n) == 0 && strncmp(err + n, ": ", 2) == 0) err += n + 2;
        snprintf(why, cap, "%s", err);
    }
    return h;
}

/* Writes the function's address into slot (a function pointer); 0 when not exported. ISO C
 * has no conversion from object to function pointer; POSIX guarantees the bytes. */
static inline int loader_sym(loader_lib h, const char *name, void *slot) {
    void *p = dlsym(h, name);
    memcpy(slot, &p, sizeof p);
    return p != NULL;
}

static inline int loader_close(loader_lib h) {
    return dlclose(h);
}
#endif

#endif
