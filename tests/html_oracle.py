#!/usr/bin/env python3
"""Holds the standards mode's reading of attribute values against another
implementation of the HTML standard's tokenizer, Debian's python3-html5lib:
values made of the pieces where readings go wrong (references named with
and without their ';', the longest match, '=' and letters behind them,
numeric references of every range and form, lone '&' and '#') must decode
alike.

    html_oracle.py PROBE    (exit 77: html5lib is not installed, skipped)
"""
import random
import subprocess
import sys

try:
    from html5lib._tokenizer import HTMLTokenizer
    from html5lib.constants import entities
except ImportError:
    print("skipped: python3-html5lib is not installed (scripts/install-deps.sh installs it)")
    sys.exit(77)

PIECES = ["&", "#", "x", "X", ";", "=", "a", "0", "9", "F", "g", " ", "amp", "not", "notin", "lt", "AElig",
          "copy", "CounterClockwiseContourIntegral", "nbsp", "&#", "&#x", "128", "x80", "x9F", "xD800", "0",
          "x110000", "1114111", "99999999999", "x0D", "65533", "xFDD0", "&amp", "&lt;", "&ampx", "&amp=",
          "\u00e9", "zz"]


def oracle(value):
    for token in HTMLTokenizer(f'<a href="{value}">'):
        if token["type"] == 3:  # the start tag
            return token["data"]["href"]
    raise AssertionError(f"no start tag for {value!r}")


def main():
    rng = random.Random(20261208)
    values = ["&" + name for name in entities] + ["&" + name + tail for name in ("not", "amp", "lt")
                                                   for tail in ("", "=", "x", "1", ";", "in", "in;", "-")]
    # Every code point to 0xFF, and the ends of the ranges the standard replaces.
    values += [f"&#{n};" for n in range(0x100)] + [f"&#x{n:X}" for n in range(0x100)]
    values += [f"&#x{n:x};" for n in (0xD7FF, 0xD800, 0xDFFF, 0xE000, 0xFDD0, 0xFFFE, 0x10FFFF, 0x110000)]
    for _ in range(20000):
        values.append("".join(rng.choice(PIECES) for _ in range(rng.randrange(1, 8))))
    given = b"".join(v.encode("utf-8") + b"\0" for v in values)
    done = subprocess.run([sys.argv[1]], input=given, stdout=subprocess.PIPE, check=True)
    ours = done.stdout.split(b"\0")[:-1]
    wrong = 0
    for value, got in zip(values, ours):
        want = oracle(value).encode("utf-8")
        if got != want:
            wrong += 1
            if wrong <= 10:
                print(f"{value!r}: {got!r}, html5lib {want!r}")
    if len(ours) != len(values):
        print(f"{len(ours)} values back of {len(values)}")
        wrong += 1
    print(f"{len(values)} values, {wrong} read otherwise than html5lib reads them")
    return 1 if wrong else 0


sys.exit(main())
