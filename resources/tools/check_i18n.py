#!/usr/bin/env python3
"""Checks the three string tables before they are compiled into the program.

The installer keeps only a 32-bit hash of each key and parses the tables with a
small state machine that forgives almost anything, so a damaged table would
not fail at run time: it would quietly show keys instead of texts. Everything
that can go wrong is therefore refused here, at build time.

Usage: check_i18n.py <table folder> <output folder>
On success the tables are copied unchanged into the output folder, from which
the resource compiler takes them; on failure nothing is written and the
errors are printed.
"""
import os
import re
import sys

BOM = b"\xef\xbb\xbf"
TABLES = ("ru", "en", "uk")
REFERENCE = "en"

# Keys the installer itself looks up, with the English texts its windows are
# laid out for.
REQUIRED = {
    "CANCEL": "Cancel",
    "OK": "Finish",
    "NEXT": "Next >",
    "BACK": "< Back",
    "CLOSE": "Close",
    "USER_LICENSE": "License agreement",
    "USER_LICENSE_PREFIX": 'By clicking "Finish", you agree to',
    "INFORMATION": "Information",
    "CANNOT_INSTALL_JAVA": "Unable to install Java (32 bit), try to install it manually",
    "QUICK_INSTALLATION": "quick installation",
    "EXTENDED_INSTALLATION": "extended",
    "INSTALLATION": "Installation",
    "FULL_INSTALL_RECOMEND": "Full Install (recommended)",
    "CUSTOM_SETTINGS": "Configuring",
    "CHECK_JAVA": "Installing Java %s",
    "DOWNLOADING": "Downloading %s %%s",
    "INSTALLING": "Installing %s",
    "STARTING_PLAYBACK": "Launch playback",
    "START_DOWNLOADING": "Start downloading",
    "LAUNCH_ON_WINDOWS_STARTUP": "Start %s when Windows starts",
    "OPEN_TORRENT_VIA_VEXA": "Open .torrent files in Vexa",
    "ADD_FIREWALL_EXCEPTION": "Add firewall exception",
    "INSTALLER_RUNNING_ALREADY": "The installer is already running",
    "PREPARE_TO_PLAY": "Preparing for playback",
    "PREPARE_TO_DOWNLOAD": "Preparing for download",
    "PREPARE_TO_WATCH": "Preparing for playback",
    "ERROR_INSTALLATION": "There was a problem when installing the Vexa. "
                          "The standard solution to this problem you can see here",
}

# Keys a table deliberately lacks: the Ukrainian table carries no Java hint,
# so a lookup there answers with the key.
ABSENT = {"uk": {"JAVA_NOT_FOUND_INSTALL"}}

# Keys that other tools sharing these tables define a second time. The first
# line wins, so the installer's text must come first.
REPEATED = {"CANCEL", "DOWNLOADING"}

KEY_RE = re.compile(r"[A-Z][A-Z0-9_]*\Z")
PLACEHOLDER_RE = re.compile(r"%(?:%|[-+ #0]*[0-9]*(?:\.[0-9]+)?(?:hh|h|ll|l|L|I64)?[sSdiuxXcfeEgG])")
CYRILLIC_RE = re.compile("[\u0400-\u04ff]")


def key_hash(key):
    """The installer's key hash: h = h * 31 + unit over UTF-16 units, wrapping at 32 bits."""
    data = key.encode("utf-16-le")
    h = 0
    for i in range(0, len(data), 2):
        h = (h * 31 + int.from_bytes(data[i:i + 2], "little")) & 0xFFFFFFFF
    return h - (1 << 32) if h & 0x80000000 else h


def placeholders(text):
    return PLACEHOLDER_RE.findall(text)


class Table:
    def __init__(self, name):
        self.name = name
        self.entries = []      # (line number, key, text) in file order
        self.groups = []       # (heading comment, [keys]) per blank-line block
        self.first = {}        # key -> text of its first line


def parse(name, data, errors):
    """Parses one table strictly; appends a message per fault to errors."""
    table = Table(name)

    def fail(line_no, message):
        errors.append("%s.txt:%s: %s" % (name, line_no, message))

    if not data.startswith(BOM):
        fail(1, "does not start with a UTF-8 byte-order mark")
    else:
        data = data[len(BOM):]
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as e:
        fail("?", "not valid UTF-8 (%s)" % e)
        return table
    if "\r" in text:
        fail("?", "carriage return found: lines must end with a line feed only")
    if text and not text.endswith("\n"):
        fail("?", "the last line has no line feed")

    heading, keys = None, []
    for line_no, line in enumerate(text.split("\n"), 1):
        if line == "":
            if keys:
                table.groups.append((heading, keys))
            heading, keys = None, []
            continue
        if line != line.rstrip():
            fail(line_no, "trailing white space (it would become part of the text)")
        if line.startswith("#"):
            if heading is None and not keys:
                heading = line
            continue
        if "=" not in line:
            # The parser would glue this line onto the next key.
            fail(line_no, "neither an entry nor a comment")
            continue
        key, value = line.split("=", 1)
        if not KEY_RE.match(key):
            fail(line_no, "bad key %r" % key)
            continue
        if value == "":
            fail(line_no, "%s has no text (the parser would drop it)" % key)
        elif value != value.strip():
            fail(line_no, "%s: text begins or ends with white space" % key)
        if any(c.isspace() and c != " " for c in value) or "\ufeff" in value or "\0" in value:
            fail(line_no, "%s: text holds a tab, control or zero-width character" % key)
        if PLACEHOLDER_RE.sub("", value).count("%"):
            fail(line_no, "%s: a lone %% that is not a placeholder" % key)
        if key in table.first:
            if key not in REPEATED:
                fail(line_no, "%s is defined twice" % key)
            elif key == "CANCEL" and value != table.first[key]:
                fail(line_no, "the second CANCEL differs from the first")
        else:
            table.first[key] = value
        table.entries.append((line_no, key, value))
        keys.append(key)
    if keys:
        table.groups.append((heading, keys))
    return table


def occurrences(table):
    """(key, n) -> text of the n-th line with that key."""
    seen, result = {}, {}
    for _, key, value in table.entries:
        n = seen[key] = seen.get(key, -1) + 1
        result[(key, n)] = value
    return result


def paired(table, ref):
    """Each entry of table with the English text of the same line in ref."""
    english = occurrences(ref)
    seen = {}
    for line_no, key, value in table.entries:
        n = seen[key] = seen.get(key, -1) + 1
        yield line_no, key, value, english.get((key, n))


def check(texts):
    """texts: table name -> raw bytes. Returns a list of error messages."""
    errors = []
    tables = {name: parse(name, data, errors) for name, data in texts.items()}
    ref = tables[REFERENCE]

    for key, english in REQUIRED.items():
        if ref.first.get(key) != english:
            errors.append("en.txt: %s must read %r, found %r" % (key, english, ref.first.get(key)))

    for key in REPEATED:
        count = sum(1 for _, k, _ in ref.entries if k == key)
        if count != 2:
            errors.append("en.txt: %s appears %d times, expected twice" % (key, count))

    for name, table in tables.items():
        absent = ABSENT.get(name, set())
        expected = [(h, [k for k in ks if k not in absent]) for h, ks in ref.groups]
        if name != REFERENCE and [ks for _, ks in table.groups] != [ks for _, ks in expected]:
            errors.append("%s.txt: keys differ from en.txt in order or grouping" % name)
        if [h for h, _ in table.groups] != [h for h, _ in ref.groups]:
            errors.append("%s.txt: group headings differ from en.txt" % name)
        for key in absent:
            if key in table.first:
                errors.append("%s.txt: %s must not be present" % (name, key))
        for line_no, key, value, english in paired(table, ref):
            if english is None:
                continue
            if placeholders(value) != placeholders(english):
                errors.append("%s.txt:%d: %s has placeholders %s, English has %s" %
                              (name, line_no, key, placeholders(value), placeholders(english)))
            if name != REFERENCE and not CYRILLIC_RE.search(value) and value != english:
                errors.append("%s.txt:%d: %s is neither translated nor the English text" % (name, line_no, key))
        if name != REFERENCE:
            for key in REQUIRED:
                if key not in absent and key in table.first and not CYRILLIC_RE.search(table.first[key]):
                    errors.append("%s.txt: %s is not translated" % (name, key))

    seen = {}
    for table in tables.values():
        for key in table.first:
            h = key_hash(key)
            if seen.setdefault(h, key) != key:
                errors.append("keys %s and %s share the hash %d" % (seen[h], key, h))
    return errors


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    src, out = argv[1], argv[2]
    texts = {}
    for name in TABLES:
        with open(os.path.join(src, name + ".txt"), "rb") as f:
            texts[name] = f.read()
    errors = check(texts)
    if errors:
        for e in errors:
            sys.stderr.write("string table: %s\n" % e)
        return 1
    os.makedirs(out, exist_ok=True)
    for name in TABLES:
        with open(os.path.join(out, name + ".txt"), "wb") as f:
            f.write(texts[name])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
