#!/usr/bin/env python3
"""The standards mode's speed on page shapes that make a tree builder walk
its stack of open elements: deep SVG or HTML nesting followed by end tags
that match nothing, or that close an element far down. Each shape is
written at 1, 4 and 16 MB and read by `talveron --html -c`; the table gives
MB/s and the ratio to a plain page of the same size, which must stay within
a small factor at every size (time in proportion to the bytes).

    bench/html_shapes.py TALVERON [ROUNDS]
"""
import os
import subprocess
import sys
import tempfile
import time

DEPTH = 5000


def plain(size):
    unit = '<p class="x">Some words of text <a href="/docs/page.html">a link</a> and more.</p>\n'
    return unit * (size // len(unit) + 1)


def repeated(head, unit):
    def make(size):
        return head + unit * ((size - len(head)) // len(unit) + 1)
    return make


SHAPES = [
    ("plain page", plain),
    ("svg, 5,000 g, </x> ...", repeated("<svg>" + "<g>" * DEPTH, "</x>")),
    ("svg, 5,000 g, </g><g> ...", repeated("<svg>" + "<g>" * DEPTH, "</g><g>")),
    ("svg, 5,000 g, </svg><svg> ...", repeated("<svg>" + "<g>" * DEPTH, "</svg><svg>")),
    ("5,000 span, svg, </x> ...", repeated("<span>" * DEPTH + "<svg>", "</x>")),
    ("5,000 span, </x> ...", repeated("<span>" * DEPTH, "</x>")),
    ("5,000 b, svg, </i> ...", repeated("<b>" * DEPTH + "<svg>", "</i>")),
    ("svg, 5,000 foreignObject, </x> ...", repeated("<svg>" + "<foreignObject>" * DEPTH, "</x>")),
    ("math, 5,000 mi, </x><mglyph> ...", repeated("<math>" + "<mi>" * DEPTH, "</x><mglyph>")),
    ("template 5,000 deep, <base> ...", repeated("<template>" * DEPTH, "<base href=x>")),
]


def best(talveron, path, rounds):
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        subprocess.run([talveron, "--html", "-c", "-j1", path], stdout=subprocess.DEVNULL, check=False)
        times.append(time.perf_counter() - start)
    return min(times)


def main():
    talveron = sys.argv[1]
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    mb = 1024 * 1024
    print(f"| shape | {' | '.join(f'{n} MB: MB/s (× plain)' for n in (1, 4, 16))} |")
    print("|---|" + "---:|" * 3)
    with tempfile.TemporaryDirectory() as work:
        plain_speed = {}
        for name, make in SHAPES:
            cells = []
            for n in (1, 4, 16):
                path = os.path.join(work, "page.html")
                with open(path, "w") as out:
                    out.write(make(n * mb)[:n * mb])
                speed = n / best(talveron, path, rounds)
                plain_speed.setdefault(n, speed)
                cells.append(f"{speed:,.0f} ({speed / plain_speed[n]:.2f})")
            print(f"| {name} | {' | '.join(cells)} |", flush=True)


if __name__ == "__main__":
    main()
