#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes the host benchmarks' inputs, the same for every host: DIR/tracks-N.json (N
generated tracks, about 280 bytes each, a fifth with "love" in the title),
DIR/downloaded-N.json (every tenth track's stream URL, shuffled) and DIR/unified-N.json
(the N tracks as local results with N/10 albums and N/10 artists).

With --downloaded, for each URL shape (distinct tails, one common suffix "?fmt=aac", one
common 60-byte prefix) it writes instead DIR/tracks-SHAPE-N.json (N tracks with URLs of
that shape) and DIR/dl-SHAPE-half-N.json and DIR/dl-SHAPE-all-N.json: N URLs, shuffled,
naming every other track (and N/2 URLs of the same shape that name none) or every track.

Usage: gen_data.py [--downloaded] DIR N [N...]
"""

import json
import os
import random
import sys

WORDS = ["Night", "Skies", "Dream", "Fire", "River", "Golden", "Echo", "Summer", "Shadow",
         "Light", "Heart", "Road", "Été", "Niño", "Café", "Straße", "Ōkami", "Mañana",
         "Blue", "Midnight", "Rain", "Ocean", "Silver", "Wild"]
FIRST = ["Aurora", "Bruno", "Camille", "Dara", "Elif", "Felix", "Greta", "Hiro", "Inès",
         "Jonas", "Kai", "Lena", "Mateo", "Nora", "Oskar"]
LAST = ["Vale", "Kade", "Roux", "Sky", "Berg", "Costa", "Dahl", "Øster", "Ferro", "Grey",
        "Holm", "Ito", "Jansen", "Kowalski", "Lund", "Moreau", "Novak", "Ortiz"]


SHAPES = ("distinct_tails", "common_suffix", "prefix60")
PREFIX60 = "https://cdn.example.net/stream/library/aac-320/2024/shelf-a/"
assert len(PREFIX60) == 60


def shaped_url(shape: str, i: int, rng: random.Random) -> str:
    h = rng.getrandbits(64)
    if shape == "distinct_tails":
        return f"https://cdn{h % 8}.example.net/s/{i}/{h:016x}"
    if shape == "common_suffix":
        return f"https://cdn{h % 8}.example.net/s/{h:016x}/{i}?fmt=aac"
    if shape == "prefix60":
        return f"{PREFIX60}{h:016x}"
    return f"https://cdn.example.com/stream/{h:016x}.mp3"


def tracks(n: int, rng: random.Random, shape: str = "") -> list:
    out = []
    for i in range(n):
        title = " ".join(rng.choice(WORDS) for _ in range(1 + rng.randrange(3)))
        if rng.randrange(5) == 0:
            title = rng.choice(["Love ", "My love "]) + title
        a = rng.randrange(2000)
        artist = f"{FIRST[a % 15]} {LAST[a // 15 % 18]}" + (" & The Band" if a % 7 == 0 else "")
        out.append({
            "id": i, "title": title, "artist": artist,
            "album": f"{rng.choice(WORDS)} {rng.choice(WORDS)}",
            "streamURL": shaped_url(shape, i, rng),
            "duration": 90 + rng.randrange(400),
            "publishTimestamp": 1500000000 + rng.randrange(250000000),
            "genre": rng.choice(["pop", "electronic"]), "trackNumber": 1 + rng.randrange(14),
            "explicit": rng.randrange(9) == 0, "bitrate": 320,
            "artwork": f"https://img.example.com/a/{i}.jpg",
        })
    return out


def write(folder: str, name: str, value) -> None:
    with open(os.path.join(folder, name), "w", encoding="utf-8") as f:
        json.dump(value, f, ensure_ascii=False, separators=(",", ":"))


def downloaded_files(folder: str, n: int) -> None:
    for shape in SHAPES:
        rng = random.Random(f"{shape}-{n}")
        ts = tracks(n, rng, shape)
        urls = [t["streamURL"] for t in ts]
        other = [shaped_url(shape, n + i, rng) for i in range(n // 2)]
        half = urls[::2] + other
        rng.shuffle(half)
        whole = list(urls)
        rng.shuffle(whole)
        write(folder, f"tracks-{shape}-{n}.json", ts)
        write(folder, f"dl-{shape}-half-{n}.json", half)
        write(folder, f"dl-{shape}-all-{n}.json", whole)


def main() -> None:
    args = sys.argv[1:]
    shaped = args[0] == "--downloaded"
    folder = args[1] if shaped else args[0]
    os.makedirs(folder, exist_ok=True)
    for n in map(int, args[2:] if shaped else args[1:]):
        if shaped:
            downloaded_files(folder, n)
            continue
        rng = random.Random(n)
        ts = tracks(n, rng)
        down = [t["streamURL"] for t in ts[::10]]
        rng.shuffle(down)
        unified = {
            "query": "love", "tracks": ts,
            "catalogue": {
                "albums": [{"id": f"al-{i}", "title": rng.choice(WORDS), "year": 2000 + i % 25}
                           for i in range(n // 10)],
                "artists": [{"id": f"ar-{i}", "name": f"{FIRST[i % 15]} {LAST[i % 18]}"}
                            for i in range(n // 10)],
            },
        }
        for name, value in (("tracks", ts), ("downloaded", down), ("unified", unified)):
            write(folder, f"{name}-{n}.json", value)


if __name__ == "__main__":
    main()
