/* SPDX-License-Identifier: MIT */
// Track lists and downloaded lists of the downloaded cases: three shapes of stream URL as
// hosts send them, lists naming half or all of the tracks, and a list built against the
// downloaded set's hash.
#ifndef NTSRCH_BENCH_DOWNLOADED_DATA_H
#define NTSRCH_BENCH_DOWNLOADED_DATA_H

#include "../tests/gen_data.h"
#include "bench_data.h"
#include "url_set.h"

#include <memory>

namespace bench {

enum class url_shape {
    distinct_tails, // .../s/<id>/<16 hex>
    common_suffix,  // .../s/<16 hex>/<id>?fmt=aac, as CDN stream URLs end
    common_prefix,  // 60 bytes shared by every URL, then <16 hex>
    random_64,      // 64 bytes: 48 shared, 8 counter digits, 8 random ASCII
    colliding_64,   // the same, the last 8 bytes chosen so that every hash is equal
};

inline const char *shape_name(url_shape s) {
    switch (s) {
    case url_shape::distinct_tails:
        return "distinct_tails";
    case url_shape::common_suffix:
        return "common_suffix";
    case url_shape::common_prefix:
        return "prefix60";
    case url_shape::random_64:
        return "random64";
    default:
        return "colliding64";
    }
}

constexpr char prefix60[] = "https://cdn.example.net/stream/library/aac-320/2024/shelf-a/";
static_assert(sizeof prefix60 == 61);
constexpr char prefix48[] = "https://cdn1.example.net/stream/aac-320/library/";
static_assert(sizeof prefix48 == 49);
constexpr uint64_t colliding_hash = 0x5DEECE66D2B4A1F3ULL;

// The 64-byte texts from counter k on: 48 shared bytes, the counter's 8 hex digits lowest
// first, then 8 printable bytes other than the quote and the backslash, so that the list
// is read from its text as URL lists are. Colliding: the last word is solved for, through
// the hash's inverse, so that every text hashes to colliding_hash; counters whose solution
// has another byte are skipped (about 3300 tries a text).
class text_maker {
  public:
    text_maker(bool colliding, uint64_t seed) : colliding_(colliding), rng_(seed) {
        std::memcpy(text_, prefix48, 48);
        state_ = ntsrch::url_hash_words(ntsrch::URL_HASH_SEED, text_, 48);
    }
    std::string next() {
        for (;; ++counter_) {
            for (uint64_t d = 0, v = counter_; d < 8; ++d, v /= 16)
                text_[48 + d] = "0123456789abcdef"[v % 16];
            uint64_t w;
            if (colliding_) {
                const uint64_t h = ntsrch::url_hash_step(
                    state_,
                    ntsrch::load_le(reinterpret_cast<const unsigned char *>(text_ + 48), 8));
                w = ntsrch::url_hash_last_word(h, 64, colliding_hash);
            } else {
                w = 0;
                for (int b = 0; b < 8; ++b)
                    w |= static_cast<uint64_t>(0x23 + rng_() % 57)
                         << (8 * b); // '#' to '[': no quote, no backslash
            }
            bool ok = true;
            for (int b = 0; b < 8; ++b) {
                const unsigned byte = (w >> (8 * b)) & 0xFF;
                ok = ok && byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\';
                text_[56 + b] = static_cast<char>(byte);
            }
            if (ok) {
                ++counter_;
                return std::string(text_, 64);
            }
        }
    }

  private:
    bool colliding_;
    std::mt19937_64 rng_;
    char text_[64];
    uint64_t state_;
    uint64_t counter_ = 0;
};

struct shaped_data {
    std::string tracks_json;
    std::vector<std::string> urls;  // the tracks' stream URLs, as JSON strings
    std::vector<std::string> other; // as many URLs of the same shape naming no track
};

// n tracks of the usual members (about 280 bytes each) with URLs of the shape.
inline std::unique_ptr<shaped_data> shaped(size_t n, url_shape shape) {
    auto d = std::make_unique<shaped_data>();
    std::mt19937_64 rng(n * 31 + static_cast<size_t>(shape));
    text_maker maker(shape == url_shape::colliding_64, n);
    auto url = [&](size_t id) -> std::string {
        char buf[128];
        const unsigned long long hex = rng();
        switch (shape) {
        case url_shape::distinct_tails:
            std::snprintf(buf, sizeof buf, "https://cdn%llu.example.net/s/%zu/%016llx", hex % 8, id,
                          hex);
            return gen::json_quote(buf);
        case url_shape::common_suffix:
            std::snprintf(buf, sizeof buf, "https://cdn%llu.example.net/s/%016llx/%zu?fmt=aac",
                          hex % 8, hex, id);
            return gen::json_quote(buf);
        case url_shape::common_prefix:
            std::snprintf(buf, sizeof buf, "%s%016llx", prefix60, hex);
            return gen::json_quote(buf);
        default:
            return gen::json_quote(maker.next());
        }
    };
    d->tracks_json.assign(1, '[');
    d->tracks_json.reserve(n * 300);
    for (size_t i = 0; i < n; ++i) {
        d->urls.push_back(url(i));
        char buf[768];
        std::snprintf(buf, sizeof buf,
                      "%s{\"id\":%zu,\"title\":\"%s %s\",\"artist\":\"%s %s\",\"album\":\"%s\","
                      "\"streamURL\":%s,\"duration\":%d,\"publishTimestamp\":%lld,"
                      "\"genre\":\"pop\",\"trackNumber\":%d,\"explicit\":false,\"bitrate\":320,"
                      "\"artwork\":\"https://img.example.com/a/%zu.jpg\"}",
                      i ? "," : "", i, words[rng() % 24], words[rng() % 24],
                      first_names[rng() % 15], last_names[rng() % 18], words[rng() % 24],
                      d->urls.back().c_str(), 90 + static_cast<int>(rng() % 400),
                      1500000000LL + static_cast<long long>(rng() % 250000000),
                      1 + static_cast<int>(rng() % 14), i);
        d->tracks_json += buf;
    }
    d->tracks_json += "]";
    for (size_t i = 0; i < n; ++i)
        d->other.push_back(url(n + i));
    return d;
}

// A downloaded list of n URLs in an order of its own: with all, every track's; otherwise
// every other track's and as many that name none. kept[i]: track i is in the list.
inline std::string downloaded_list(const shaped_data &d, bool all, std::vector<bool> &kept) {
    const size_t n = d.urls.size();
    std::vector<const std::string *> pick;
    kept.assign(n, false);
    for (size_t i = 0; i < n; ++i) {
        if (all || i % 2 == 0) {
            pick.push_back(&d.urls[i]);
            kept[i] = true;
        } else {
            pick.push_back(&d.other[i]);
        }
    }
    std::mt19937_64 rng(n);
    std::shuffle(pick.begin(), pick.end(), rng);
    std::string s = "[";
    s.reserve(n * 80);
    for (size_t i = 0; i < pick.size(); ++i) {
        if (i) s += ',';
        s += *pick[i];
    }
    return s + "]";
}

// yyjson alone: parse both texts, deep-copy the kept tracks in order, write.
inline char *downloaded_copy_floor(const std::string &tracks, const std::string &list,
                                   const std::vector<size_t> &order,
                                   std::vector<yyjson_val *> &elems) {
    return copy_floor(tracks, &list, order, elems);
}

// Downloaded only: the kept tracks in input order; downloaded first: them, then the rest.
inline std::vector<size_t> downloaded_order(const std::vector<bool> &kept, bool first) {
    std::vector<size_t> v;
    for (size_t i = 0; i < kept.size(); ++i)
        if (kept[i]) v.push_back(i);
    if (first)
        for (size_t i = 0; i < kept.size(); ++i)
            if (!kept[i]) v.push_back(i);
    return v;
}

} // namespace bench

#endif
