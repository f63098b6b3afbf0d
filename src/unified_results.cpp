// SPDX-License-Identifier: MIT
// Unified search results: the root "tracks" and the catalogue's "albums" and "artists"
// regrouped into {"localCount","catalogueCount","local","catalogue"}. The arrays are
// written straight from the parsed input, each in one piece.
#include "internal.h"
#include "json_text.h"
#include "ntsrch.h"

#include <yyjson.h>

#include <charconv>
#include <cstring>

namespace {

// yyjson_obj_getn compares the key length, then the bytes, and stops at the first match,
// so a repeated key resolves to its first member. Null unless that member is an array.
yyjson_val *array_member(yyjson_val *obj, const char *key) noexcept {
    yyjson_val *v = yyjson_obj_getn(obj, key, std::strlen(key));
    return yyjson_is_arr(v) ? v : nullptr;
}

size_t size_of(yyjson_val *arr) noexcept {
    return arr != nullptr ? unsafe_yyjson_get_len(arr) : 0;
}

// "name":count, as the writer prints an unsigned integer.
bool put_count(ntsrch::json_text &out, const char *name, size_t count) noexcept {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, count).ptr;
    return out.put(name, std::strlen(name)) && out.put(digits, static_cast<size_t>(end - digits));
}

bool put_items(ntsrch::json_text &out, yyjson_val *arr) noexcept {
    return arr == nullptr || out.items_of(arr);
}

// The whole result, or false when any allocation fails: a result that silently lacks
// members or elements would pass lost data off as success.
bool write_output(yyjson_val *root, ntsrch::json_text &out) noexcept {
    yyjson_val *local = array_member(root, "tracks");
    yyjson_val *albums = nullptr, *artists = nullptr;
    yyjson_val *cat = yyjson_obj_getn(root, "catalogue", 9);
    if (yyjson_is_obj(cat)) {
        albums = array_member(cat, "albums");
        artists = array_member(cat, "artists");
    }
    return put_count(out, "{\"localCount\":", size_of(local)) &&
           put_count(out, ",\"catalogueCount\":", size_of(albums) + size_of(artists)) &&
           out.put(",\"local\":", 9) && out.open('[') && put_items(out, local) && out.close(']') &&
           out.put(",\"catalogue\":", 13) && out.open('[') && put_items(out, albums) &&
           put_items(out, artists) && out.put("]}", 2);
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
    ntsrch::json_text out;
    const bool ok = write_output(root, out);
    yyjson_doc_free(in);
    ntsrch::clear_error();
    return ok ? out.release() : nullptr;
}
