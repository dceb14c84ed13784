#!/usr/bin/env python3
"""Writes html/entities.inc, the HTML standard's table of named character
references (2,231 names, 106 of them also without their ';'), from the copy
that Debian's python3-html5lib carries:

    scripts/make-entities.py > html/entities.inc

Each row is {"name", "UTF-8 bytes"}, sorted by name bytes, so that a reader
can look a name up by binary search."""
import sys

from html5lib.constants import entities


def c_string(data):
    return '"' + "".join(chr(b) if 0x20 <= b < 0x7f and b not in (0x22, 0x5c, 0x3f) else f"\\{b:03o}"
                         for b in data) + '"'


rows = sorted((name.encode("ascii"), value.encode("utf-8")) for name, value in entities.items())
out = sys.stdout
out.write("// The HTML standard's named character references, made by\n"
          "// scripts/make-entities.py from Debian's python3-html5lib: do not edit.\n")
for name, value in rows:
    out.write(f"{{{c_string(name)}, {c_string(value)}}},\n")
