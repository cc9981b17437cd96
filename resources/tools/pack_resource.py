#!/usr/bin/env python3
"""pack_resource.py <input> <output>

Packs one text resource in the LZMA "alone" form that the installer inflates
when it reads the resource. Every byte of the installer is downloaded by each
user, and the string tables and licences shrink to about a quarter. The
dictionary is kept small, since the inflating side refuses large ones and the
files are a few kilobytes."""
import lzma
import sys


def main() -> int:
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    packed = lzma.compress(
        data,
        format=lzma.FORMAT_ALONE,
        filters=[{"id": lzma.FILTER_LZMA1, "preset": 9 | lzma.PRESET_EXTREME, "dict_size": 1 << 16}],
    )
    if lzma.decompress(packed, format=lzma.FORMAT_ALONE) != data:
        print(f"{sys.argv[1]}: packed copy does not inflate to the same bytes", file=sys.stderr)
        return 1
    with open(sys.argv[2], "wb") as f:
        f.write(packed)
    return 0


if __name__ == "__main__":
    sys.exit(main())
