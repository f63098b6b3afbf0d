/* SPDX-License-Identifier: MIT */
/* ntsrch: command-line host for the search client module. Loads the module at run time by
 * its file name, as an application would, and calls it. */
#define _GNU_SOURCE
#include "ntsrch.h"

#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#define MODULE_FILE "nortavel-nortaveltune-search-client.so"

typedef const char *(*fn_text)(void);
typedef int (*fn_int)(void);
typedef void (*fn_free)(void *);
typedef char *(*fn_url)(const char *, const char *);
typedef char *(*fn_filter)(const char *, const char *, int, const char *, int);
typedef char *(*fn_normalize)(const char *, size_t);

static void *module;

static void usage(void) {
    fputs("usage: ntsrch [--module PATH] COMMAND [ARGS]\n"
          "  version                         library and ABI version\n"
          "  url QUERY [--base URL]          search request URL\n"
          "  filter TRACKS.json [--query TEXT] [--downloaded FILE] [--downloaded-only]\n"
          "         [--sort none|title|artist|newest|shortest|downloaded]\n"
          "  normalize FILE                  flatten a unified search result\n"
          "  selftest                        run the built-in checks\n"
          "Files may be - for standard input. Without --module the module is looked for\n"
          "next to this program, then on the system's library search path.\n",
          stderr);
}

static void *load_module(const char *path) {
    if (path != NULL) return dlopen(path, RTLD_NOW | RTLD_LOCAL);
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        self[n] = '\0';
        char *slash = strrchr(self, '/');
        if (slash != NULL && (size_t)(slash - self) + 1 + sizeof MODULE_FILE <= sizeof self) {
            strcpy(slash + 1, MODULE_FILE);
            void *h = dlopen(self, RTLD_NOW | RTLD_LOCAL);
            if (h != NULL) return h;
        }
    }
    return dlopen(MODULE_FILE, RTLD_NOW | RTLD_LOCAL);
}

typedef void (*any_fn)(void);

static any_fn sym(const char *name) {
    void *p = dlsym(module, name);
    if (p == NULL) {
        fprintf(stderr, "ntsrch: the module does not export %s\n", name);
        exit(2);
    }
    /* ISO C has no cast from object to function pointer; POSIX guarantees the bytes. */
    any_fn f;
    memcpy(&f, &p, sizeof f);
    return f;
}

/* Reads a whole file (or stdin for "-") into a NUL-terminated heap buffer. */
static char *read_file(const char *path, size_t *len_out) {
    FILE *f = strcmp(path, "-") == 0 ? stdin : fopen(path, "rb");
    if (f == NULL) {
        fprintf(stderr, "ntsrch: cannot open %s: %s\n", path, strerror(errno));
        return NULL;
    }
    size_t cap = 65536, len = 0;
    char *buf = malloc(cap);
    while (buf != NULL) {
        if (len + 1 >= cap) {
            char *bigger = realloc(buf, cap * 2);
            if (bigger == NULL) {
                free(buf);
                buf = NULL;
                break;
            }
            buf = bigger;
            cap *= 2;
        }
        size_t got = fread(buf + len, 1, cap - len - 1, f);
        len += got;
        if (got == 0) break;
    }
    int failed = ferror(f);
    if (f != stdin) fclose(f);
    if (buf == NULL || failed) {
        fprintf(stderr, "ntsrch: cannot read %s\n", path);
        free(buf);
        return NULL;
    }
    buf[len] = '\0';
    if (len_out != NULL) *len_out = len;
    return buf;
}

/* Prints a producing function's result, or its last-error text. */
static int emit(char *result) {
    if (result == NULL) {
        const char *err = ((fn_text)sym("ntsrch_last_error"))();
        fprintf(stderr, "ntsrch: %s\n", err[0] != '\0' ? err : "out of memory");
        return 1;
    }
    puts(result);
    ((fn_free)sym("ntsrch_free"))(result);
    return 0;
}

static int parse_sort(const char *name) {
    static const char *const names[] = {"none",   "title",    "artist",
                                        "newest", "shortest", "downloaded"};
    for (int i = 0; i < (int)(sizeof names / sizeof names[0]); ++i)
        if (strcmp(name, names[i]) == 0) return i;
    return -1;
}

static int cmd_url(int argc, char **argv) {
    const char *query = NULL, *base = NULL;
    for (int i = 0; i < argc; ++i) {
        if (strcmp(argv[i], "--base") == 0 && i + 1 < argc)
            base = argv[++i];
        else if (query == NULL)
            query = argv[i];
        else
            return usage(), 2;
    }
    if (query == NULL) return usage(), 2;
    return emit(((fn_url)sym("ntsrch_build_search_url"))(base, query));
}

static int cmd_filter(int argc, char **argv) {
    const char *tracks_path = NULL, *query = NULL, *downloaded_path = NULL;
    int downloaded_only = 0, sort_mode = NTSRCH_SORT_NONE;
    for (int i = 0; i < argc; ++i) {
        if (strcmp(argv[i], "--query") == 0 && i + 1 < argc)
            query = argv[++i];
        else if (strcmp(argv[i], "--downloaded") == 0 && i + 1 < argc)
            downloaded_path = argv[++i];
        else if (strcmp(argv[i], "--downloaded-only") == 0)
            downloaded_only = 1;
        else if (strcmp(argv[i], "--sort") == 0 && i + 1 < argc) {
            sort_mode = parse_sort(argv[++i]);
            if (sort_mode < 0) return usage(), 2;
        } else if (tracks_path == NULL)
            tracks_path = argv[i];
        else
            return usage(), 2;
    }
    if (tracks_path == NULL) return usage(), 2;
    if (downloaded_path != NULL && strcmp(tracks_path, "-") == 0 &&
        strcmp(downloaded_path, "-") == 0) {
        fputs("ntsrch: only one input can come from standard input\n", stderr);
        return 2;
    }
    char *tracks = read_file(tracks_path, NULL);
    if (tracks == NULL) return 1;
    char *downloaded = NULL;
    if (downloaded_path != NULL && (downloaded = read_file(downloaded_path, NULL)) == NULL) {
        free(tracks);
        return 1;
    }
    int rc = emit(((fn_filter)sym("ntsrch_filter_and_sort_tracks_json"))(
        tracks, query, downloaded_only, downloaded, sort_mode));
    free(tracks);
    free(downloaded);
    return rc;
}

static int cmd_normalize(int argc, char **argv) {
    if (argc != 1) return usage(), 2;
    size_t len = 0;
    char *text = read_file(argv[0], &len);
    if (text == NULL) return 1;
    /* An empty file gives len 0, which the module measures as the empty text. */
    int rc = emit(((fn_normalize)sym("ntsrch_normalize_unified_results_json"))(text, len));
    free(text);
    return rc;
}

int main(int argc, char **argv) {
    const char *module_path = NULL;
    int i = 1;
    if (i + 1 < argc && strcmp(argv[i], "--module") == 0) {
        module_path = argv[i + 1];
        i += 2;
    }
    if (i >= argc || strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
        usage();
        return i >= argc ? 2 : 0;
    }
    module = load_module(module_path);
    if (module == NULL) {
        fprintf(stderr, "ntsrch: cannot load the module: %s\n", dlerror());
        return 2;
    }
    const char *cmd = argv[i++];
    int rest = argc - i;
    char **args = argv + i;
    int rc;
    if (strcmp(cmd, "version") == 0 && rest == 0) {
        printf("ntsrch %s (ABI %d)\n", ((fn_text)sym("ntsrch_version"))(),
               ((fn_int)sym("ntsrch_abi_version"))());
        rc = 0;
    } else if (strcmp(cmd, "url") == 0) {
        rc = cmd_url(rest, args);
    } else if (strcmp(cmd, "filter") == 0) {
        rc = cmd_filter(rest, args);
    } else if (strcmp(cmd, "normalize") == 0) {
        rc = cmd_normalize(rest, args);
    } else if (strcmp(cmd, "selftest") == 0 && rest == 0) {
        int r = ((fn_int)sym("ntsrch_selftest"))();
        if (r == 0)
            puts("selftest passed");
        else
            fprintf(stderr, "ntsrch: selftest failed: %s\n",
                    r == 1 ? "search URL building" : "title ordering");
        rc = r == 0 ? 0 : 1;
    } else {
        usage();
        rc = 2;
    }
    dlclose(module);
    return rc;
}
