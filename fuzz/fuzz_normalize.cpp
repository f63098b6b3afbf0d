// SPDX-License-Identifier: MIT
// ntsrch_normalize_unified_results_json on arbitrary bytes, read through an exact-size
// buffer so any read past `len` is caught. A result must parse, hold the four members in
// order with counts equal to the array sizes, and equal the reference reshaping.
//
// Input: byte 0 flags (bit 0 pass len 0 with a NUL-terminated copy, bit 1 null json),
// then the text.
#include "fuzz_common.h"

namespace {

void append_array(yyjson_mut_doc *doc, yyjson_mut_val *to, yyjson_val *from) {
    if (!yyjson_is_arr(from)) return;
    size_t i, max;
    yyjson_val *el;
    yyjson_arr_foreach(from, i, max, el) yyjson_mut_arr_append(to, yyjson_val_mut_copy(doc, el));
}

std::string reference(yyjson_val *root) {
    yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr);
    yyjson_mut_val *local = yyjson_mut_arr(doc), *cat = yyjson_mut_arr(doc);
    append_array(doc, local, yyjson_obj_getn(root, "tracks", 6));
    yyjson_val *c = yyjson_obj_getn(root, "catalogue", 9);
    if (yyjson_is_obj(c)) {
        append_array(doc, cat, yyjson_obj_getn(c, "albums", 6));
        append_array(doc, cat, yyjson_obj_getn(c, "artists", 7));
    }
    yyjson_mut_val *obj = yyjson_mut_obj(doc);
    yyjson_mut_obj_add_uint(doc, obj, "localCount", yyjson_mut_arr_size(local));
    yyjson_mut_obj_add_uint(doc, obj, "catalogueCount", yyjson_mut_arr_size(cat));
    yyjson_mut_obj_add_val(doc, obj, "local", local);
    yyjson_mut_obj_add_val(doc, obj, "catalogue", cat);
    yyjson_mut_doc_set_root(doc, obj);
    char *s = yyjson_mut_write(doc, 0, nullptr);
    fz::check(s != nullptr, "reference writer ran out of memory");
    std::string out = s;
    std::free(s);
    yyjson_mut_doc_free(doc);
    return out;
}

void check_shape(const std::string &got) {
    yyjson_doc *doc = fz::read(got.data(), got.size());
    yyjson_val *root = yyjson_doc_get_root(doc);
    fz::check(yyjson_is_obj(root) && yyjson_obj_size(root) == 4, "result is not a 4-member object",
              got);
    static const char *const names[] = {"localCount", "catalogueCount", "local", "catalogue"};
    size_t i, max;
    yyjson_val *key, *val;
    yyjson_val *vals[4];
    yyjson_obj_foreach(root, i, max, key, val) {
        fz::check(yyjson_equals_str(key, names[i]), "members out of order", got);
        vals[i] = val;
    }
    fz::check(yyjson_is_uint(vals[0]) && yyjson_is_arr(vals[2]) &&
                  yyjson_get_uint(vals[0]) == yyjson_arr_size(vals[2]),
              "localCount differs from the local array's size", got);
    fz::check(yyjson_is_uint(vals[1]) && yyjson_is_arr(vals[3]) &&
                  yyjson_get_uint(vals[1]) == yyjson_arr_size(vals[3]),
              "catalogueCount differs from the catalogue array's size", got);
    yyjson_doc_free(doc);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const unsigned char flags = size > 0 ? data[0] : 0;
    const char *text = reinterpret_cast<const char *>(data) + (size > 0);
    size_t len = size > 0 ? size - 1 : 0;

    if (flags & 2) {
        char *r = ntsrch_normalize_unified_results_json(nullptr, len);
        fz::check(r == nullptr && std::strcmp(ntsrch_last_error(), "null json") == 0,
                  "null json not reported");
        return 0;
    }
    std::string zcopy;
    char *exact = nullptr;
    char *out;
    if ((flags & 1) || len == 0) {
        zcopy.assign(text, len);
        zcopy = zcopy.c_str(); // the text as a NUL-terminated string sees it
        len = zcopy.size();
        out = ntsrch_normalize_unified_results_json(zcopy.c_str(), 0);
    } else {
        exact = static_cast<char *>(std::malloc(len));
        std::memcpy(exact, text, len);
        out = ntsrch_normalize_unified_results_json(exact, len);
    }
    const std::string err = ntsrch_last_error();
    const bool is_null = out == nullptr;
    const std::string got = out ? out : "";
    ntsrch_free(out);

    yyjson_doc *doc = fz::read(exact ? exact : zcopy.c_str(), len);
    std::free(exact);
    yyjson_val *root = yyjson_doc_get_root(doc);
    if (!yyjson_is_obj(root)) {
        yyjson_doc_free(doc);
        fz::check(is_null && err == "invalid search json", "non-object input accepted", got);
        return 0;
    }
    fz::check(!is_null && err.empty(), "valid unified result rejected", err);
    check_shape(got);
    const std::string want = reference(root);
    yyjson_doc_free(doc);
    fz::check(got == want, "result differs from the reference reshaping",
              " got: " + got + "\nwant: " + want);
    return 0;
}
