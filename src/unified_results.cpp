// SPDX-License-Identifier: MIT
// Unified search results: the root "tracks" and the catalogue's "albums" and "artists"
// regrouped into {"localCount","catalogueCount","local","catalogue"}.
#include "internal.h"
#include "ntsrch.h"

#include <yyjson.h>

#include <cstring>

namespace {

// yyjson_obj_getn compares the key length, then the bytes, and stops at the first match,
// so a repeated key resolves to its first member.
yyjson_val *first_member(yyjson_val *obj, const char *key) noexcept {
    return yyjson_obj_getn(obj, key, std::strlen(key));
}

// Appends a deep copy of every element of src, when src is an array, to dst. False only
// when memory ran out.
bool append_copies(yyjson_mut_doc *doc, yyjson_mut_val *dst, yyjson_val *src) noexcept {
    if (!yyjson_is_arr(src)) return true;
    size_t idx, max;
    yyjson_val *elem;
    yyjson_arr_foreach(src, idx, max, elem) {
        yyjson_mut_val *copy = yyjson_val_mut_copy(doc, elem);
        if (copy == nullptr || !yyjson_mut_arr_append(dst, copy)) return false;
    }
    return true;
}

// Builds the whole output document, or null when any allocation fails: a result that
// silently lacks members or elements would pass lost data off as success.
yyjson_mut_doc *build_output(yyjson_val *root) noexcept {
    yyjson_mut_doc *out = yyjson_mut_doc_new(nullptr);
    if (out == nullptr) return nullptr;
    yyjson_mut_val *obj = yyjson_mut_obj(out);
    yyjson_mut_val *local = yyjson_mut_arr(out);
    yyjson_mut_val *catalogue = yyjson_mut_arr(out);
    bool ok = obj != nullptr && local != nullptr && catalogue != nullptr &&
              append_copies(out, local, first_member(root, "tracks"));
    if (ok) {
        yyjson_val *cat = first_member(root, "catalogue");
        if (yyjson_is_obj(cat)) {
            ok = append_copies(out, catalogue, first_member(cat, "albums")) &&
                 append_copies(out, catalogue, first_member(cat, "artists"));
        }
    }
    ok = ok && yyjson_mut_obj_add_uint(out, obj, "localCount", yyjson_mut_arr_size(local)) &&
         yyjson_mut_obj_add_uint(out, obj, "catalogueCount", yyjson_mut_arr_size(catalogue)) &&
         yyjson_mut_obj_add_val(out, obj, "local", local) &&
         yyjson_mut_obj_add_val(out, obj, "catalogue", catalogue);
    if (!ok) {
        yyjson_mut_doc_free(out);
        return nullptr;
    }
    yyjson_mut_doc_set_root(out, obj);
    return out;
}

} // namespace

extern "C" NTSRCH_API char *ntsrch_normalize_unified_results_json(const char *json, size_t len) {
    if (json == nullptr) {
        ntsrch::set_error("null json");
        return nullptr;
    }
    if (len == 0) len = std::strlen(json);
    // Without YYJSON_READ_INSITU the reader copies the input and reads exactly len bytes,
    // so the cast drops no real constness and no terminator is needed.
    yyjson_doc *in =
        yyjson_read_opts(const_cast<char *>(json), len, YYJSON_READ_NOFLAG, nullptr, nullptr);
    yyjson_val *root = yyjson_doc_get_root(in);
    if (!yyjson_is_obj(root)) {
        yyjson_doc_free(in);
        ntsrch::set_error("invalid search json");
        return nullptr;
    }
    yyjson_mut_doc *out = build_output(root);
    // The copies own their bytes, so the input can go before the output is written.
    yyjson_doc_free(in);
    char *text = nullptr;
    if (out != nullptr) {
        text = yyjson_mut_write_opts(out, YYJSON_WRITE_NOFLAG, nullptr, nullptr, nullptr);
        yyjson_mut_doc_free(out);
    }
    ntsrch::clear_error();
    return text;
}
