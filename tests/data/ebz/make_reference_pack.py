#!/usr/bin/env python3
"""Makes reference.ebz without any of the installer's code: Python's lzma
module for the LZMA "alone" stream and the cryptography package for
Blowfish-ECB. reference.expected lists each entry as name, size and MD5 in
pack order; the scenario tests unpack the pack and compare.

The content is fixed (seeded), so running the script again gives the same
entries; the LZMA bytes may differ between library versions, which is fine."""
import hashlib
import lzma
import os
import random
import warnings

warnings.filterwarnings("ignore")
try:
    from cryptography.hazmat.decrepit.ciphers.algorithms import Blowfish
except ImportError:  # older releases keep it with the other ciphers
    from cryptography.hazmat.primitives.ciphers.algorithms import Blowfish
from cryptography.hazmat.primitives.ciphers import Cipher, modes

KEY = b"Ref3rence!"
HERE = os.path.dirname(os.path.abspath(__file__))


def entries():
    rng = random.Random(20240521)
    readme = ("Reference pack for the unpack tests.\r\n" * 20).encode()
    random_bin = bytes(rng.getrandbits(8) for _ in range(3000))
    nested = "Справка: вложенная папка.\n".encode("utf-8") * 10
    return [
        ("readme.txt", readme),
        ("empty.dat", b""),
        ("bin/random.bin", random_bin),
        ("docs/nested/справка.txt", nested),
        ("zeros.dat", bytes(10000)),
    ]


def main():
    plain = b"".join(
        str(len(name.encode("utf-8"))).encode() + b":" + name.encode("utf-8") + str(len(data)).encode() + b":" + data
        for name, data in entries())
    stream = lzma.compress(plain, format=lzma.FORMAT_ALONE)
    whole = len(stream) // 8 * 8
    encryptor = Cipher(Blowfish(KEY), modes.ECB()).encryptor()
    # A last part shorter than a cipher block stays plain.
    body = encryptor.update(stream[:whole]) + encryptor.finalize() + stream[whole:]
    with open(os.path.join(HERE, "reference.ebz"), "wb") as f:
        f.write(KEY + body)
    with open(os.path.join(HERE, "reference.expected"), "wb") as f:
        for name, data in entries():
            f.write(("%s\t%d\t%s\n" % (name, len(data), hashlib.md5(data).hexdigest())).encode("utf-8"))


if __name__ == "__main__":
    main()
