#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes the host benchmarks' inputs, the same for every host: DIR/tracks-N.json (N
generated tracks, about 280 bytes each, a fifth with "love" in the title),
DIR/downloaded-N.json (every tenth track's stream URL, shuffled) and DIR/unified-N.json
(the N tracks as local results with N/10 albums and N/10 artists).

Usage: gen_data.py DIR N [N...]
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


def tracks(n: int, rng: random.Random) -> list:
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
            "streamURL": f"https://cdn.example.com/stream/{rng.getrandbits(64):016x}.mp3",
            "duration": 90 + rng.randrange(400),
            "publishTimestamp": 1500000000 + rng.randrange(250000000),
            "genre": rng.choice(["pop", "electronic"]), "trackNumber": 1 + rng.randrange(14),
            "explicit": rng.randrange(9) == 0, "bitrate": 320,
            "artwork": f"https://img.example.com/a/{i}.jpg",
        })
    return out


def main() -> None:
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for n in map(int, sys.argv[2:]):
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
            with open(os.path.join(folder, f"{name}-{n}.json"), "w", encoding="utf-8") as f:
                json.dump(value, f, ensure_ascii=False, separators=(",", ":"))


if __name__ == "__main__":
    main()
