#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Draws the scaling table of ntsrch_bench_scaling (tab-separated: case, then ns per input
byte at each track count) as an SVG line chart: tracks on a log axis, ns per byte up.

Usage: scaling_plot.py TABLE.tsv OUT.svg
"""

import math
import sys
from xml.sax.saxutils import escape

COLOURS = ["#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd", "#8c564b", "#e377c2",
           "#7f7f7f", "#bcbd22", "#17becf", "#393b79", "#637939", "#8c6d31", "#843c39",
           "#7b4173", "#3182bd"]


def main() -> int:
    src, dst = sys.argv[1], sys.argv[2]
    with open(src, encoding="utf-8") as f:
        head, *lines = [line.rstrip("\n").split("\t") for line in f if line.strip()]
    sizes = [int(x) for x in head[1:]]
    rows = [(r[0], [float(x) for x in r[1:]]) for r in lines]
    top = max(v for _, vals in rows for v in vals) * 1.1
    w, h, left, right, upper, lower = 900, 520, 70, 260, 40, 50
    pw, ph = w - left - right, h - upper - lower
    lo, hi = math.log10(sizes[0]), math.log10(sizes[-1])

    def x(n: float) -> float:
        return left + (math.log10(n) - lo) / (hi - lo) * pw

    def y(v: float) -> float:
        return upper + ph - v / top * ph

    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{w}" height="{h}" '
           f'font-family="sans-serif" font-size="12">',
           f'<rect width="{w}" height="{h}" fill="white"/>',
           f'<text x="{left}" y="22" font-size="15">ns per input byte by track count '
           '(lower is better; flat = linear)</text>']
    for i in range(6):
        v = top * i / 5
        out.append(f'<line x1="{left}" x2="{left + pw}" y1="{y(v):.1f}" y2="{y(v):.1f}" '
                   'stroke="#ddd"/>')
        out.append(f'<text x="{left - 8}" y="{y(v) + 4:.1f}" text-anchor="end">{v:.2f}</text>')
    for n in sizes:
        out.append(f'<line x1="{x(n):.1f}" x2="{x(n):.1f}" y1="{upper}" y2="{upper + ph}" '
                   'stroke="#ddd"/>')
        out.append(f'<text x="{x(n):.1f}" y="{upper + ph + 18}" text-anchor="middle">'
                   f'10^{round(math.log10(n))}</text>')
    out.append(f'<text x="{left + pw / 2}" y="{h - 8}" text-anchor="middle">tracks</text>')
    for k, (name, vals) in enumerate(rows):
        colour = COLOURS[k % len(COLOURS)]
        points = " ".join(f"{x(n):.1f},{y(v):.1f}" for n, v in zip(sizes, vals))
        out.append(f'<polyline points="{points}" fill="none" stroke="{colour}" '
                   'stroke-width="2"/>')
        for n, v in zip(sizes, vals):
            out.append(f'<circle cx="{x(n):.1f}" cy="{y(v):.1f}" r="2.5" fill="{colour}"/>')
        ly = upper + 10 + k * 17
        out.append(f'<line x1="{left + pw + 16}" x2="{left + pw + 36}" y1="{ly}" y2="{ly}" '
                   f'stroke="{colour}" stroke-width="3"/>')
        out.append(f'<text x="{left + pw + 42}" y="{ly + 4}">{escape(name)}</text>')
    out.append("</svg>")
    with open(dst, "w", encoding="utf-8") as f:
        f.write("\n".join(out) + "\n")
    print(f"scaling plot: {dst}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
