"""Write core/tests/data/unicode_vectors.txt: CPython's answers for the core's
Unicode primitives, so the C++ tests check every code point against CPython.

Lines (hex code points, space-separated; "-" is the empty sequence):
    cn A B          code points A..B are unassigned in CPython's database (skipped)
    digit A B V     code points A..B are decimal digits (Nd), A has the value V
    space A         str.isspace() is true for A
    word A B        code points A..B match re's \\w
    fold A : X Y    NFD / drop Mn / lower of chr(A) is X Y (listed when != chr(A))
    foldstr S : X   the same for a whole string (context: sigma, reordering)

Run with the CPython the package targets:  python tools/gen_unicode_vectors.py
"""

from __future__ import annotations

import pathlib
import random
import re
import sys
import unicodedata

OUT = pathlib.Path(__file__).resolve().parent.parent / "core" / "tests" / "data" / "unicode_vectors.txt"
WORD = re.compile(r"\w")


def fold(s: str) -> str:
    return "".join(c for c in unicodedata.normalize("NFD", s) if unicodedata.category(c) != "Mn").lower()


def hexs(s: str) -> str:
    return " ".join(f"{ord(c):X}" for c in s) or "-"


def runs(pred):
    start = None
    for cp in range(0x110001):
        ok = cp <= 0x10FFFF and pred(cp)
        if ok and start is None:
            start = cp
        elif not ok and start is not None:
            yield start, cp - 1
            start = None


def main() -> None:
    lines = [f"# CPython {sys.version.split()[0]}, Unicode {unicodedata.unidata_version}"]
    for a, b in runs(lambda cp: unicodedata.category(chr(cp)) == "Cn"):
        lines.append(f"cn {a:X} {b:X}")
    for a, b in runs(lambda cp: unicodedata.category(chr(cp)) == "Nd"):
        lines.append(f"digit {a:X} {b:X} {unicodedata.decimal(chr(a))}")
    for cp in range(0x110000):
        if chr(cp).isspace():
            lines.append(f"space {cp:X}")
    for a, b in runs(lambda cp: WORD.match(chr(cp)) is not None):
        lines.append(f"word {a:X} {b:X}")
    for cp in range(0x110000):
        if 0xD800 <= cp <= 0xDFFF:
            continue
        c = chr(cp)
        if unicodedata.category(c) == "Cn":
            continue
        f = fold(c)
        if f != c:
            lines.append(f"fold {cp:X} : {hexs(f)}")

    # Strings where context matters: final sigma, marks around it, reordering.
    rng = random.Random(2026)
    pool = ["\u03a3", "\u03c3", "A", "a", "1", " ", ".", "'", ":", "\u0301", "\u0345", "\u00b7", "\u02b0",
            "\u0130", "\u1e9e", "\u1f88", "\U0001d165", "\U0001d16d", "\u0903", "\u00c9", "\u0041\u030a",
            "\u2028", "\u00a0", "\u05d0", "\u0410", "\u0e48", "\u3042", "\u01c5"]
    cases = {"\u03a3", "A\u03a3", "A\u03a3B", "A\u03a3.", "A.\u03a3", "1\u03a3", "A\u0301\u03a3",
             "\u0391\u0301\u03a3", "\u1f88\u03a3"}
    while len(cases) < 3000:
        cases.add("".join(rng.choice(pool) for _ in range(rng.randint(1, 8))))
    for s in sorted(cases):
        lines.append(f"foldstr {hexs(s)} : {hexs(fold(s))}")
    OUT.write_text("\n".join(lines) + "\n", encoding="ascii")
    print(f"wrote {OUT} ({len(lines)} lines)")


if __name__ == "__main__":
    main()
