/* SPDX-License-Identifier: MIT */
/* ntsrch: command-line host for the search client module. Loads the module at run time, as
 * an application would, checks its ABI and calls it. Plain C, so it also proves that the
 * public header serves C hosts. */
#define _GNU_SOURCE
#include "ntsrch.h"
#include "loader.h"

#include <errno.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#define MODULE_FILE "nortavel-nortaveltune-search-client.dll"
#elif defined(__APPLE__)
#include <dlfcn.h>
#include <mach-o/dyld.h>
#include <stdint.h>
#include <unistd.h>
#define MODULE_FILE "nortavel-nortaveltune-search-client.dylib"
#else
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>
#define MODULE_FILE "nortavel-nortaveltune-search-client.so"
#endif

/* Where an installed tool finds the module, relative to its own directory (bin/ -> lib/). */
#ifndef NTSRCH_TOOL_LIBDIR
#define NTSRCH_TOOL_LIBDIR "../lib"
#endif

enum { EXIT_REFUSED = 1, EXIT_USAGE = 2 };

/* ---- Loading: the one platform-specific part (opening and closing in loader.h). ---- */

#ifdef _WIN32
static int module_file_of(void *h, char *buf, size_t cap) {
    DWORD n = GetModuleFileNameA((HMODULE)h, buf, (DWORD)cap);
    return n > 0 && n < cap;
}

static int self_path(char *buf, size_t cap) {
    DWORD n = GetModuleFileNameA(NULL, buf, (DWORD)cap);
    return n > 0 && n < cap;
}

static int is_separator(char c) {
    return c == '\\' || c == '/';
}
#else
#ifdef __APPLE__
/* dyld has neither link maps nor /proc: ask which image holds one of the module's
 * functions, and dyld for the executable's path. */
static int module_file_of(void *h, char *buf, size_t cap) {
    Dl_info info;
    void *sym = dlsym(h, "ntsrch_version");
    if (sym == NULL || dladdr(sym, &info) == 0 || info.dli_fname == NULL) return 0;
    return snprintf(buf, cap, "%s", info.dli_fname) < (int)cap;
}

static int self_path(char *buf, size_t cap) {
    uint32_t size = cap > UINT32_MAX ? UINT32_MAX : (uint32_t)cap;
    return _NSGetExecutablePath(buf, &size) == 0;
}
#else
static int module_file_of(void *h, char *buf, size_t cap) {
    struct link_map *map = NULL;
    if (dlinfo(h, RTLD_DI_LINKMAP, &map) != 0 || map == NULL || map->l_name == NULL) return 0;
    return snprintf(buf, cap, "%s", map->l_name) < (int)cap;
}

static int self_path(char *buf, size_t cap) {
    ssize_t n = readlink("/proc/self/exe", buf, cap - 1);
    if (n <= 0 || (size_t)n >= cap - 1) return 0;
    buf[n] = '\0';
    return 1;
}
#endif

static int is_separator(char c) {
    return c == '/';
}
#endif

struct module {
    void *handle;
    const char *(NTSRCH_CALL *version)(void);
    int(NTSRCH_CALL *abi_version)(void);
    const char *(NTSRCH_CALL *last_error)(void);
    void(NTSRCH_CALL *release)(void *);
    char *(NTSRCH_CALL *build_search_url)(const char *, const char *);
    char *(NTSRCH_CALL *filter)(const char *, const char *, int, const char *, int);
    char *(NTSRCH_CALL *normalize)(const char *, size_t);
    int(NTSRCH_CALL *selftest)(void);
};

static const struct {
    const char *name;
    size_t offset;
} exports[] = {
    {"ntsrch_version", offsetof(struct module, version)},
    {"ntsrch_abi_version", offsetof(struct module, abi_version)},
    {"ntsrch_last_error", offsetof(struct module, last_error)},
    {"ntsrch_free", offsetof(struct module, release)},
    {"ntsrch_build_search_url", offsetof(struct module, build_search_url)},
    {"ntsrch_filter_and_sort_tracks_json", offsetof(struct module, filter)},
    {"ntsrch_normalize_unified_results_json", offsetof(struct module, normalize)},
    {"ntsrch_selftest", offsetof(struct module, selftest)},
};

/* Every place tried and why it failed, for the one message shown when none loads. */
struct attempts {
    char text[8192];
    size_t len;
};

static void note_attempt(struct attempts *tried, const char *where, const char *path,
                         const char *why) {
    size_t room = sizeof tried->text - tried->len;
    int n = snprintf(tried->text + tried->len, room, "  %s, %s: %s\n", where, path, why);
    if (n > 0) tried->len += (size_t)n < room ? (size_t)n : room - 1;
}

/* Loads one candidate completely (all eight functions, matching ABI) or not at all. */
static int try_module(struct module *m, const char *where, const char *path,
                      struct attempts *tried) {
    char why[1024];
    memset(m, 0, sizeof *m);
    m->handle = loader_open(path, why, sizeof why);
    if (m->handle == NULL) {
        note_attempt(tried, where, path, why);
        return 0;
    }
    for (size_t i = 0; i < sizeof exports / sizeof exports[0]; ++i) {
        if (!loader_sym(m->handle, exports[i].name, (char *)m + exports[i].offset)) {
            snprintf(why, sizeof why, "does not export %s", exports[i].name);
            note_attempt(tried, where, path, why);
            loader_close(m->handle);
            return 0;
        }
    }
    int abi = m->abi_version();
    if (abi != NTSRCH_ABI_VERSION) {
        snprintf(why, sizeof why, "module ABI %d, this tool needs ABI %d", abi, NTSRCH_ABI_VERSION);
        note_attempt(tried, where, path, why);
        loader_close(m->handle);
        return 0;
    }
    return 1;
}

static int has_separator(const char *path) {
    for (; *path != '\0'; ++path)
        if (is_separator(*path)) return 1;
    return 0;
}

/* A name chosen by the user that has no folder part is not looked for where the user may
 * expect it (the current folder); say where it was looked for. */
static void explain_bare_name(const char *name) {
#ifdef _WIN32
    const char *where = "in this program's and the system's folders (LoadLibrary's search)";
#else
    const char *where = "on the system library search path (dlopen's search)";
#endif
    if (has_separator(name)) return;
    fprintf(stderr,
            "ntsrch: '%s' has no folder part, so it is looked up %s, "
            "not in the current folder; use ./%s to load the file in the current folder\n",
            name, where, name);
}

/* --module or $NTSRCH_MODULE name the one module to use; otherwise beside this program, in
 * the installed library directory, then the system's search path by bare file name. */
static int load_module(struct module *m, const char *explicit_path) {
    static struct attempts tried;
    const char *env = getenv("NTSRCH_MODULE");
    const char *chosen = NULL;
    if (explicit_path != NULL) {
        if (try_module(m, "--module", explicit_path, &tried)) return 1;
        chosen = explicit_path;
    } else if (env != NULL && env[0] != '\0') {
        if (try_module(m, "$NTSRCH_MODULE", env, &tried)) return 1;
        chosen = env;
    } else {
        char path[4096];
        size_t dir = 0;
        if (self_path(path, sizeof path)) {
            for (size_t i = 0; path[i] != '\0'; ++i)
                if (is_separator(path[i])) dir = i + 1;
        } else {
            note_attempt(&tried, "beside the tool", "?", "this program's own path is unknown");
        }
        if (dir > 0 && dir + sizeof MODULE_FILE <= sizeof path) {
            strcpy(path + dir, MODULE_FILE);
            if (try_module(m, "beside the tool", path, &tried)) return 1;
        }
        if (dir > 0 && snprintf(path + dir, sizeof path - dir, "%s/%s", NTSRCH_TOOL_LIBDIR,
                                MODULE_FILE) < (int)(sizeof path - dir)) {
            if (try_module(m, "installed library directory", path, &tried)) return 1;
        }
        if (try_module(m, "system library search path", MODULE_FILE, &tried)) return 1;
    }
    fprintf(stderr, "ntsrch: cannot load the module; tried:\n%s", tried.text);
    if (chosen != NULL) explain_bare_name(chosen);
    return 0;
}

/* ---- Output. ---- */

/* The reason of the first failed write. A large write fails at once and leaves nothing for the
 * final flush to report, so the reason must be kept where it happens. */
static int write_errno;

static void note_write(int ok) {
    if (!ok && write_errno == 0) write_errno = errno != 0 ? errno : EIO;
}

static void out_line(const char *text) {
    errno = 0;
    note_write(fputs(text, stdout) != EOF && putchar('\n') != EOF);
}

static void out_printf(const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    errno = 0;
    note_write(vprintf(format, ap) >= 0);
    va_end(ap);
}

/* Flushes and closes standard output; 0 when everything written reached it. */
static int finish_output(void) {
    errno = 0;
    note_write(fflush(stdout) == 0);
    if (ferror(stdout)) note_write(0);
    errno = 0;
    note_write(fclose(stdout) == 0);
    if (write_errno == 0) return 1;
    fprintf(stderr, "ntsrch: cannot write the output: %s\n", strerror(write_errno));
    return 0;
}

/* ---- Command line. ---- */

static void help(void) {
    out_printf("usage: ntsrch [OPTIONS] COMMAND [ARGS]\n"
               "\n"
               "Commands:\n"
               "  version             print the module's version and ABI version\n"
               "  url QUERY           print the search request URL for QUERY\n"
               "  filter FILE         filter and order the JSON track list in FILE\n"
               "  normalize FILE      flatten the JSON unified search result in FILE\n"
               "  selftest            run the module's built-in checks\n"
               "FILE may be - for standard input.\n"
               "\n"
               "Options may come before or after the command; -- ends them.\n"
               "  --base URL          url: base of the service (default: the module's own)\n"
               "  --query TEXT        filter: keep tracks whose title or artist contains TEXT\n"
               "                      (ASCII letters match either case)\n"
               "  --downloaded FILE   filter: JSON array of the downloaded tracks' stream URLs\n"
               "  --downloaded-only   filter: keep downloaded tracks only\n"
               "  --sort ORDER        filter: none (input order, the default), title, artist,\n"
               "                      newest, shortest or downloaded\n"
               "  --module PATH       load the module from PATH; a name without a slash is\n"
               "                      looked up on the system's library search path, so\n"
               "                      write ./NAME for a file in the current folder\n"
               "  -h, --help          print this help and exit\n"
               "  --version           print the tool's and the module's versions and exit\n"
               "\n"
               "The module is taken from --module PATH, else from $NTSRCH_MODULE; otherwise\n"
               "%s is looked for beside this program,\n"
               "then in %s/ from this program's directory, then on the system's\n"
               "library search path.\n"
               "\n"
               "Exit status:\n"
               "  0  success\n"
               "  1  the module refused the input (FILE: its message is printed), a file\n"
               "     holds a NUL byte, out of memory, a file could not be read, the output\n"
               "     could not be written (the reason is printed), or the self-test failed\n"
               "  2  usage error, or no usable module could be loaded\n",
               MODULE_FILE, NTSRCH_TOOL_LIBDIR);
}

static int usage_error(const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    fputs("ntsrch: ", stderr);
    vfprintf(stderr, format, ap);
    va_end(ap);
    fputs("\nTry 'ntsrch --help' for more information.\n", stderr);
    return EXIT_USAGE;
}

enum option_id {
    OPT_HELP,
    OPT_VERSION,
    OPT_MODULE,
    OPT_BASE,
    OPT_QUERY,
    OPT_DOWNLOADED,
    OPT_DOWNLOADED_ONLY,
    OPT_SORT,
    OPT_COUNT
};

static const struct {
    const char *name;
    int takes_value;
    const char *command; /* NULL: any command */
} options[OPT_COUNT] = {
    [OPT_HELP] = {"--help", 0, NULL},
    [OPT_VERSION] = {"--version", 0, NULL},
    [OPT_MODULE] = {"--module", 1, NULL},
    [OPT_BASE] = {"--base", 1, "url"},
    [OPT_QUERY] = {"--query", 1, "filter"},
    [OPT_DOWNLOADED] = {"--downloaded", 1, "filter"},
    [OPT_DOWNLOADED_ONLY] = {"--downloaded-only", 0, "filter"},
    [OPT_SORT] = {"--sort", 1, "filter"},
};

static const char *const sort_names[] = {"none",   "title",    "artist",
                                         "newest", "shortest", "downloaded"};

static const struct {
    const char *name;
    const char *operand; /* NULL: takes none */
} commands[] = {
    {"version", NULL},     {"url", "QUERY"},   {"filter", "FILE"},
    {"normalize", "FILE"}, {"selftest", NULL},
};

struct invocation {
    int given[OPT_COUNT];
    const char *value[OPT_COUNT];
    const char *positional[3]; /* command, operand, first extra */
    int positionals;
    int sort_mode;
};

/* Returns -1 to go on, or the exit status to end with (help printed, usage error). */
static int parse(int argc, char **argv, struct invocation *inv) {
    int options_ended = 0;
    memset(inv, 0, sizeof *inv);
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (options_ended || arg[0] != '-' || arg[1] == '\0') {
            if (inv->positionals < 3) inv->positional[inv->positionals] = arg;
            inv->positionals++;
            continue;
        }
        if (strcmp(arg, "--") == 0) {
            options_ended = 1;
            continue;
        }
        if (strcmp(arg, "-h") == 0) arg = "--help";
        const char *eq = strncmp(arg, "--", 2) == 0 ? strchr(arg, '=') : NULL;
        size_t name_len = eq != NULL ? (size_t)(eq - arg) : strlen(arg);
        int id = 0;
        while (id < OPT_COUNT && !(strlen(options[id].name) == name_len &&
                                   strncmp(options[id].name, arg, name_len) == 0))
            ++id;
        if (id == OPT_COUNT) return usage_error("unknown option '%s'", argv[i]);
        const char *value = NULL;
        if (options[id].takes_value) {
            if (eq != NULL)
                value = eq + 1;
            else if (i + 1 < argc)
                value = argv[++i];
            else
                return usage_error("option '%s' needs an argument", options[id].name);
        } else if (eq != NULL) {
            return usage_error("option '%s' takes no argument", options[id].name);
        }
        if (id == OPT_HELP) {
            help();
            return 0;
        }
        if (id == OPT_SORT) {
            int mode = 0, count = (int)(sizeof sort_names / sizeof sort_names[0]);
            while (mode < count && strcmp(value, sort_names[mode]) != 0)
                ++mode;
            if (mode == count)
                return usage_error("unknown sort order '%s' (none, title, artist, newest, "
                                   "shortest or downloaded)",
                                   value);
            inv->sort_mode = mode;
        }
        inv->given[id] = 1;
        inv->value[id] = value;
    }
    if (inv->given[OPT_VERSION]) return -1;
    if (inv->positionals == 0) return usage_error("missing command");
    const char *command = inv->positional[0];
    size_t c = 0, count = sizeof commands / sizeof commands[0];
    while (c < count && strcmp(commands[c].name, command) != 0)
        ++c;
    if (c == count) return usage_error("unknown command '%s'", command);
    for (int id = 0; id < OPT_COUNT; ++id)
        if (inv->given[id] && options[id].command != NULL &&
            strcmp(options[id].command, command) != 0)
            return usage_error("option '%s' does not apply to '%s'", options[id].name, command);
    int wanted = commands[c].operand != NULL ? 2 : 1;
    if (inv->positionals < wanted)
        return usage_error("'%s' needs %s", command, commands[c].operand);
    if (inv->positionals > wanted)
        return usage_error("unexpected argument '%s'", inv->positional[wanted]);
    const char *downloaded = inv->value[OPT_DOWNLOADED];
    if (downloaded != NULL && strcmp(downloaded, "-") == 0 && strcmp(inv->positional[1], "-") == 0)
        return usage_error("only one input can come from standard input");
    return -1;
}

/* ---- Commands. ---- */

static int out_of_memory(void) {
    fputs("ntsrch: out of memory\n", stderr);
    return EXIT_REFUSED;
}

/* Reads a whole file (or standard input for "-") into a NUL-terminated heap buffer; on
 * failure prints why and returns NULL with *status set. */
static char *read_file(const char *path, size_t *len_out, int *status) {
    int from_stdin = strcmp(path, "-") == 0;
    *status = EXIT_REFUSED;
#ifdef _WIN32
    if (from_stdin) _setmode(_fileno(stdin), _O_BINARY);
#endif
    FILE *f = from_stdin ? stdin : fopen(path, "rb");
    if (f == NULL) {
        fprintf(stderr, "ntsrch: cannot open %s: %s\n", path, strerror(errno));
        return NULL;
    }
    size_t cap = 65536, len = 0;
    char *buf = malloc(cap);
    while (buf != NULL) {
        if (len + 1 >= cap) {
            char *bigger = cap <= (size_t)-1 / 2 ? realloc(buf, cap * 2) : NULL;
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
    int read_errno = ferror(f) ? errno : 0;
    if (!from_stdin) fclose(f);
    if (buf == NULL) {
        out_of_memory();
        return NULL;
    }
    if (read_errno != 0) {
        fprintf(stderr, "ntsrch: cannot read %s: %s\n", path, strerror(read_errno));
        free(buf);
        return NULL;
    }
    /* The module reads text up to its first NUL: the rest of the file would go unseen. */
    const char *nul = memchr(buf, '\0', len);
    if (nul != NULL) {
        fprintf(stderr, "ntsrch: %s: embedded NUL at byte %llu\n", path,
                (unsigned long long)(nul - buf));
        free(buf);
        return NULL;
    }
    buf[len] = '\0';
    if (len_out != NULL) *len_out = len;
    return buf;
}

/* Prints a producing function's result, or its last-error text prefixed with the file it
 * refused (NULL: the input came from the command line). */
static int emit(const struct module *m, char *result, const char *file) {
    if (result == NULL) {
        const char *err = m->last_error();
        if (err[0] == '\0') return out_of_memory();
        fprintf(stderr, "ntsrch: %s%s%s\n", file != NULL ? file : "", file != NULL ? ": " : "",
                err);
        return EXIT_REFUSED;
    }
    out_line(result);
    m->release(result);
    return 0;
}

static int cmd_filter(const struct module *m, const struct invocation *inv) {
    const char *tracks_path = inv->positional[1], *downloaded_path = inv->value[OPT_DOWNLOADED];
    int status;
    char *tracks = read_file(tracks_path, NULL, &status);
    if (tracks == NULL) return status;
    char *downloaded = NULL;
    if (downloaded_path != NULL &&
        (downloaded = read_file(downloaded_path, NULL, &status)) == NULL) {
        free(tracks);
        return status;
    }
    int rc = emit(m,
                  m->filter(tracks, inv->value[OPT_QUERY], inv->given[OPT_DOWNLOADED_ONLY],
                            downloaded, inv->sort_mode),
                  tracks_path);
    free(tracks);
    free(downloaded);
    return rc;
}

static int cmd_normalize(const struct module *m, const struct invocation *inv) {
    size_t len = 0;
    int status;
    char *text = read_file(inv->positional[1], &len, &status);
    if (text == NULL) return status;
    /* An empty file gives len 0, which the module measures as the empty text. */
    int rc = emit(m, m->normalize(text, len), inv->positional[1]);
    free(text);
    return rc;
}

static int cmd_selftest(const struct module *m) {
    int r = m->selftest();
    if (r == 0) {
        out_line("selftest passed");
        return 0;
    }
    fprintf(stderr, "ntsrch: selftest failed: %s\n",
            r == 1 ? "search URL building" : "title ordering");
    return EXIT_REFUSED;
}

static int run(const struct invocation *inv) {
    struct module m;
    if (inv->given[OPT_VERSION])
        out_printf("ntsrch tool %s (ABI %d)\n", NTSRCH_VERSION_STRING, NTSRCH_ABI_VERSION);
    if (!load_module(&m, inv->value[OPT_MODULE])) return EXIT_USAGE;
    const char *command = inv->given[OPT_VERSION] ? "--version" : inv->positional[0];
    int rc = 0;
    if (strcmp(command, "--version") == 0) {
        char path[4096];
        out_printf("module %s (ABI %d) %s\n", m.version(), m.abi_version(),
                   module_file_of(m.handle, path, sizeof path) ? path : "");
    } else if (strcmp(command, "version") == 0) {
        out_printf("ntsrch %s (ABI %d)\n", m.version(), m.abi_version());
    } else if (strcmp(command, "url") == 0) {
        rc = emit(&m, m.build_search_url(inv->value[OPT_BASE], inv->positional[1]), NULL);
    } else if (strcmp(command, "filter") == 0) {
        rc = cmd_filter(&m, inv);
    } else if (strcmp(command, "normalize") == 0) {
        rc = cmd_normalize(&m, inv);
    } else {
        rc = cmd_selftest(&m);
    }
    loader_close(m.handle);
    return rc;
}

int main(int argc, char **argv) {
    struct invocation inv;
    int rc = parse(argc, argv, &inv);
    if (rc < 0) rc = run(&inv);
    /* Output that never reached its destination is a failure, even when all else went well. */
    if (!finish_output() && rc == 0) rc = EXIT_REFUSED;
    return rc;
}
