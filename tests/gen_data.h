/* SPDX-License-Identifier: MIT */
// Generated inputs shared by the allocation-failure and thread tests.
#ifndef NTSRCH_TEST_GEN_DATA_H
#define NTSRCH_TEST_GEN_DATA_H

#include "ntsrch.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace gen {

// s as a JSON string, escaped as yyjson's writer escapes it, so that expected outputs can be
// compared byte for byte.
inline std::string json_quote(const std::string &s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            // strchr finds the terminator for a NUL: only the named escapes take a short form.
            const char *shorts = c != 0 ? std::strchr("\bb\ff\nn\rr\tt", c) : nullptr;
            char buf[8];
            if (shorts != nullptr)
                std::snprintf(buf, sizeof buf, "\\%c", shorts[1]);
            else
                std::snprintf(buf, sizeof buf, "\\u%04X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

inline std::string stream_url(int i) {
    return "https://cdn.example/t/" + std::to_string(i) + ".mp3";
}

// n realistic track objects with UTF-8 titles, duplicate-free ids, a few odd elements and
// members of the wrong type, so every path of the filter is walked.
inline std::string tracks(int n) {
    static const char *const words[] = {"Night", "Été",    "sky",   "Alpha", "zeta",
                                        "Ωmega", "Lights", "drift", "ÅR",    "blue"};
    std::string s = "[";
    char buf[512];
    for (int i = 0; i < n; ++i) {
        if (i) s += ',';
        if (i % 97 == 13) {
            s += (i % 2) ? "\"not a track\"" : "null";
            continue;
        }
        const char *w1 = words[(i * 7) % 10];
        const char *w2 = words[(i * 3 + 1) % 10];
        std::snprintf(buf, sizeof buf,
                      "{\"id\":%d,\"title\":\"%s %s %d\",\"artist\":\"%s Band\","
                      "\"album\":\"Album %d\",\"streamURL\":\"%s\",\"duration\":%d.5,"
                      "\"publishTimestamp\":%d,\"explicit\":%s,\"tags\":[\"a\",%d]}",
                      i, w1, w2, i % 50, words[i % 10], i % 20, stream_url(i).c_str(),
                      100 + (i * 37) % 300, 1700000000 + (i * 7919) % 100000,
                      (i % 3) ? "false" : "true", i);
        s += buf;
        if (i % 11 == 5) s.back() = ',', s += "\"title\":7}"; // second title, wrong type
    }
    return s + "]";
}

// Stream URLs of every k-th track of tracks(n), plus one non-string element.
inline std::string downloaded(int n, int k) {
    std::string s = "[42";
    for (int i = 0; i < n; i += k)
        s += ",\"" + stream_url(i) + "\"";
    return s + "]";
}

// A unified result with n local tracks and about n catalogue entries.
inline std::string unified(int n) {
    std::string s = "{\"query\":\"sky\",\"tracks\":[";
    for (int i = 0; i < n; ++i) {
        if (i) s += ',';
        s += "{\"id\":" + std::to_string(i) + ",\"title\":\"Sky " + std::to_string(i) +
             "\",\"duration\":" + std::to_string(120 + i % 200) + "}";
    }
    s += "],\"catalogue\":{\"artists\":[";
    for (int i = 0; i < n / 2; ++i) {
        if (i) s += ',';
        s +=
            "{\"id\":\"ar-" + std::to_string(i) + "\",\"name\":\"Dära " + std::to_string(i) + "\"}";
    }
    s += "],\"playlists\":[{}],\"albums\":[";
    for (int i = 0; i < n / 2; ++i) {
        if (i) s += ',';
        s += "{\"id\":\"al-" + std::to_string(i) + "\",\"year\":" + std::to_string(1990 + i % 30) +
             ",\"tags\":[1.5,\"x\",null]}";
    }
    return s + "]}}";
}

} // namespace gen

#endif
