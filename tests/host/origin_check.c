/* SPDX-License-Identifier: MIT */
/* Ships the module as an application would: copies it and a libyyjson.so.0 into an empty
 * folder, loads it from there and checks, in the process's list of loaded objects, that the
 * yyjson in use is the one beside it rather than the system's.
 * Usage: origin_check MODULE LIBYYJSON. Exit 0 pass, 1 fail. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <link.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#define MODULE_FILE "nortavel-nortaveltune-search-client.so"

struct found {
    char yyjson[4096];
    char module[4096];
};

static int note_object(struct dl_phdr_info *info, size_t size, void *data) {
    struct found *f = data;
    const char *name = info->dlpi_name, *base;
    (void)size;
    if (name == NULL || *name == '\0') return 0;
    base = strrchr(name, '/');
    base = base ? base + 1 : name;
    if (strncmp(base, "libyyjson.so", 12) == 0) snprintf(f->yyjson, sizeof f->yyjson, "%s", name);
    if (strcmp(base, MODULE_FILE) == 0) snprintf(f->module, sizeof f->module, "%s", name);
    return 0;
}

static int copy_file(const char *from, const char *to) {
    char buf[65536];
    size_t n;
    int ok = 1;
    FILE *in = fopen(from, "rb"), *out = in ? fopen(to, "wb") : NULL;
    if (in == NULL || out == NULL) ok = 0;
    while (ok && (n = fread(buf, 1, sizeof buf, in)) > 0)
        ok = fwrite(buf, 1, n, out) == n;
    if (in != NULL && ferror(in)) ok = 0;
    if (in != NULL) fclose(in);
    if (out != NULL && fclose(out) != 0) ok = 0;
    if (!ok) fprintf(stderr, "cannot copy %s to %s\n", from, to);
    return ok;
}

int main(int argc, char **argv) {
    char dir[4096], module[4200], yyjson[4200];
    const char *tmpdir = getenv("TMPDIR");
    struct found before = {{0}, {0}}, after = {{0}, {0}};
    void *h;
    int rc = 1;
    if (argc != 3) {
        fprintf(stderr, "usage: origin_check MODULE LIBYYJSON\n");
        return 1;
    }
    dl_iterate_phdr(note_object, &before);
    if (before.yyjson[0] != '\0') {
        fprintf(stderr, "yyjson already loaded before the module: %s\n", before.yyjson);
        return 1;
    }
    snprintf(dir, sizeof dir, "%s/ntsrch-origin-XXXXXX",
             tmpdir != NULL && tmpdir[0] != '\0' ? tmpdir : "/tmp");
    if (mkdtemp(dir) == NULL) return perror("mkdtemp"), 1;
    snprintf(module, sizeof module, "%s/%s", dir, MODULE_FILE);
    snprintf(yyjson, sizeof yyjson, "%s/libyyjson.so.0", dir);
    if (!copy_file(argv[1], module) || !copy_file(argv[2], yyjson)) goto out;

    h = dlopen(module, RTLD_NOW | RTLD_LOCAL);
    if (h == NULL) {
        fprintf(stderr, "dlopen: %s\n", dlerror());
        goto out;
    }
    dl_iterate_phdr(note_object, &after);
    if (strcmp(after.module, module) != 0) {
        fprintf(stderr, "module loaded from '%s', expected '%s'\n", after.module, module);
    } else if (after.yyjson[0] == '\0') {
        fprintf(stderr, "the module loaded no yyjson\n");
    } else if (strcmp(after.yyjson, yyjson) != 0) {
        fprintf(stderr, "yyjson in use is '%s', not the one beside the module '%s'\n", after.yyjson,
                yyjson);
    } else {
        printf("yyjson in use: %s\n", after.yyjson);
        rc = 0;
    }
    dlclose(h);
out:
    unlink(module);
    unlink(yyjson);
    rmdir(dir);
    return rc;
}
