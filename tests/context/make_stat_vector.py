#!/usr/bin/env python3
"""Prints the known-answer vector of StatRequestTest: a fixed parameter set
joined, padded and enciphered by an implementation that shares no code with
the installer (Python's own UTF-16 handling and the cryptography package's
Blowfish)."""
from cryptography.hazmat.decrepit.ciphers.algorithms import Blowfish
from cryptography.hazmat.primitives.ciphers import Cipher, modes

KEY = b"R7tKwQ2pLm"
PARAMS = {
    "mode": "installStart",
    "version": "vwOct__1_2020_11_45_38",
    "userName": "\u0418\u0432\u0430\u043d \u041f.",  # Cyrillic name with a blank
    "errors": "fne_C:\\Vexa\\Vexa.exe;dne_C:\\x;",
    "trace": '{"main":"1250"}',
    "support": "note \U0001F600 & more",  # an astral character: two surrogate halves
    "appId": "1",
    "cid": "",
    "xul": "12",
}
SAFE = set("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_.~")


def encode(value):
    out = []
    units = value.encode("utf-16-le")
    for i in range(0, len(units), 2):
        u = units[i] | (units[i + 1] << 8)
        ch = chr(u) if u < 0xD800 or u > 0xDFFF else None
        if ch is not None and ch in SAFE:
            out.append(ch)
        elif u == 0x20:
            out.append("+")
        elif u < 0x80:
            out.append("%%%02X" % u)
        elif u < 0x800:
            out.append("%%%02X%%%02X" % (0xC0 | u >> 6, 0x80 | u & 0x3F))
        else:
            out.append("%%%02X%%%02X%%%02X" % (0xE0 | u >> 12, 0x80 | (u >> 6) & 0x3F, 0x80 | u & 0x3F))
    return "".join(out)


def sort_key(name):
    return [c for c in name.encode("utf-16-be")]


joined = "&".join(n + "=" + encode(PARAMS[n]) for n in sorted(PARAMS, key=sort_key) if PARAMS[n])
data = joined.encode("ascii")
pad = 8 - len(data) % 8
data += bytes([pad]) * pad
enc = Cipher(Blowfish(KEY), modes.ECB()).encryptor()
print(joined)
print((enc.update(data) + enc.finalize()).hex())
