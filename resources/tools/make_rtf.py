#!/usr/bin/env python3
"""Turns a licence text into the RTF document the licence window shows.

Usage: make_rtf.py <language: ru|en|uk> <source .txt> <output .rtf>

The source is UTF-8 plain text, so translators edit words, not markup:
  "= Title"      the document title (first line),
  "== Heading"   a section heading,
  other lines    paragraphs; a blank line ends a paragraph.
Every character outside printable ASCII becomes an RTF \\uN? escape, so the
document is pure ASCII and reads the same in any code page.
"""
import sys

# (code page, font charset, language id) for the few places RTF wants them.
LANGUAGES = {
    "ru": (1251, 204, 1049),
    "uk": (1251, 204, 1058),
    "en": (1252, 0, 1033),
}
BODY_SIZE = 18    # half-points: 9 pt, as the window's normal font
TITLE_SIZE = 24


def escape(text):
    out = []
    for ch in text:
        code = ord(ch)
        if ch in "\\{}":
            out.append("\\" + ch)
        elif 0x20 <= code < 0x7F:
            out.append(ch)
        else:
            units = ch.encode("utf-16-le")
            for i in range(0, len(units), 2):
                u = int.from_bytes(units[i:i + 2], "little")
                # RTF reads the number as a signed 16-bit value.
                out.append("\\u%d?" % (u - 0x10000 if u >= 0x8000 else u))
    return "".join(out)


def wrap(rtf, width=250):
    """Breaks long source lines after a blank; RTF ignores line ends. Each
    line end is a byte of the installer's download, so lines are long."""
    lines, line = [], ""
    for word in rtf.split(" "):
        if line and len(line) + len(word) + 1 > width:
            lines.append(line + " ")
            line = word
        else:
            line = line + " " + word if line else word
    lines.append(line)
    return "\n".join(lines)


def paragraphs(source):
    block = []
    for line in source.splitlines():
        line = line.strip()
        if not line or line.startswith("="):
            if block:
                yield "text", " ".join(block)
                block = []
            if line.startswith("== "):
                yield "heading", line[3:]
            elif line.startswith("= "):
                yield "title", line[2:]
            continue
        block.append(line)
    if block:
        yield "text", " ".join(block)


def convert(language, source):
    codepage, charset, lang = LANGUAGES[language]
    parts = ["{\\rtf1\\ansi\\ansicpg%d\\deff0\\deflang%d\\uc1" % (codepage, lang),
             "{\\fonttbl{\\f0\\fswiss\\fcharset%d Tahoma;}}" % charset,
             "\\viewkind4\\pard\\sa120\\f0\\fs%d" % BODY_SIZE]
    for kind, text in paragraphs(source):
        body = escape(text)
        if kind == "title":
            parts.append(wrap("\\pard\\qc\\sa200\\b\\fs%d %s\\b0\\fs%d\\par" % (TITLE_SIZE, body, BODY_SIZE)))
            parts.append("\\pard\\sa120")
        elif kind == "heading":
            parts.append(wrap("\\sb120\\b %s\\b0\\par\\sb0" % body))
        else:
            parts.append(wrap("%s\\par" % body))
    parts.append("}")
    return "\n".join(parts) + "\n"


def main(argv):
    if len(argv) != 4 or argv[1] not in LANGUAGES:
        sys.stderr.write(__doc__)
        return 2
    with open(argv[2], encoding="utf-8-sig") as f:
        rtf = convert(argv[1], f.read())
    with open(argv[3], "w", encoding="ascii", newline="\n") as f:
        f.write(rtf)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
