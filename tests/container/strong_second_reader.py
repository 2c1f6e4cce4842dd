#!/usr/bin/env python3
"""A second reader and writer of the strong container, written from its byte table alone and
sharing nothing with the program's code: quillix-crypt's containers must open here, and
containers made here must open in quillix-crypt.

Usage: strong_second_reader.py QUILLIX_CRYPT
"""
import os
import struct
import subprocess
import sys
import tempfile

from nacl import bindings as nb

HEADER = 64
CHUNK = 65536
ABYTES = nb.crypto_secretstream_xchacha20poly1305_ABYTES
TAG_MESSAGE = nb.crypto_secretstream_xchacha20poly1305_TAG_MESSAGE
TAG_FINAL = nb.crypto_secretstream_xchacha20poly1305_TAG_FINAL
PASSWORD = "pässwörd 🔑 second reader"
SIZES = [0, 1, 65535, 65536, 65537, 200000]

_keys = {}


def key_for(password, salt, passes, memory_kib):
    wanted = (password, salt, passes, memory_kib)
    if wanted not in _keys:
        _keys[wanted] = nb.crypto_pwhash_alg(32, password.encode("utf-8"), salt, passes, memory_kib * 1024,
                                             nb.crypto_pwhash_ALG_ARGON2ID13)
    return _keys[wanted]


def open_container(data, password):
    if len(data) < HEADER:
        raise ValueError("header cut short")
    header = data[:HEADER]
    magic, version, kdf, reserved, passes, memory = struct.unpack_from("<4sBBHII", header, 0)
    salt = header[16:32]
    stream_header = header[32:56]
    chunk, header_length = struct.unpack_from("<II", header, 56)
    if magic != b"QLX1" or version != 3 or kdf != 1 or reserved != 0:
        raise ValueError("not a strong container")
    if not 1 <= passes <= 10 or not 8 <= memory <= 1048576 or chunk != CHUNK or header_length != HEADER:
        raise ValueError("parameters refused")
    key = key_for(password, salt, passes, memory)
    state = nb.crypto_secretstream_xchacha20poly1305_state()
    nb.crypto_secretstream_xchacha20poly1305_init_pull(state, stream_header, key)
    plain = bytearray()
    at = HEADER
    first = True
    while True:
        message = data[at:at + CHUNK + ABYTES]
        if len(message) < ABYTES:
            raise ValueError("final message missing")
        text, tag = nb.crypto_secretstream_xchacha20poly1305_pull(state, message, header if first else None)
        first = False
        at += len(message)
        plain += text
        if tag == TAG_FINAL:
            if len(text) == CHUNK or at != len(data):
                raise ValueError("bytes after the final message")
            return bytes(plain)
        if tag != TAG_MESSAGE or len(text) != CHUNK:
            raise ValueError("message out of place")


def make_container(plain, password, passes=1, memory_kib=8192):
    salt = os.urandom(16)
    key = key_for(password, salt, passes, memory_kib)
    state = nb.crypto_secretstream_xchacha20poly1305_state()
    stream_header = nb.crypto_secretstream_xchacha20poly1305_init_push(state, key)
    header = struct.pack("<4sBBHII", b"QLX1", 3, 1, 0, passes, memory_kib) + salt + stream_header + \
        struct.pack("<II", CHUNK, HEADER)
    out = bytearray(header)
    chunks = [plain[i:i + CHUNK] for i in range(0, len(plain), CHUNK)]
    if len(plain) % CHUNK == 0:
        chunks.append(b"")
    for index, chunk in enumerate(chunks):
        last = index == len(chunks) - 1
        out += nb.crypto_secretstream_xchacha20poly1305_push(state, chunk, header if index == 0 else None,
                                                             TAG_FINAL if last else TAG_MESSAGE)
    return bytes(out)


def plain_of(size):
    return bytes((i * 13 + size) % 256 for i in range(size))


def run(tool, args, folder):
    with open(os.path.join(folder, "pw"), "w", encoding="utf-8") as f:
        f.write(PASSWORD + "\n")
    common = ["-p", os.path.join(folder, "pw"), "--settings", os.path.join(folder, "none.ini"), "--passes", "1"]
    return subprocess.run([tool, args[0]] + common + args[1:], capture_output=True, check=False)


def main():
    tool = sys.argv[1]
    failures = []
    with tempfile.TemporaryDirectory() as aside, tempfile.TemporaryDirectory() as folder:
        names = [os.path.join(folder, "p%d.bin" % size) for size in SIZES]
        for name, size in zip(names, SIZES):
            with open(name, "wb") as f:
                f.write(plain_of(size))
        done = run(tool, ["encrypt", "-c", "strong"] + names, aside)
        if done.returncode != 0:
            sys.exit("quillix-crypt encrypt failed: " + done.stderr.decode(errors="replace"))
        for name, size in zip(names, SIZES):
            sealed = os.path.join(folder, "$" + os.path.basename(name))
            with open(sealed, "rb") as f:
                data = f.read()
            try:
                if open_container(data, PASSWORD) != plain_of(size):
                    failures.append("Quillix's container of %d bytes opens to other bytes" % size)
            except Exception as error:  # noqa: BLE001 - every refusal is a failure here
                failures.append("Quillix's container of %d bytes refused: %s" % (size, error))
            try:
                open_container(data + b"\0", PASSWORD)
                failures.append("a byte after Quillix's container of %d bytes went unnoticed" % size)
            except Exception:  # noqa: BLE001
                pass
        if len(_keys) != 1:
            failures.append("one run of quillix-crypt made %d salts for one password" % len(_keys))

        for size in SIZES:
            made = os.path.join(folder, "$m%d.bin" % size)
            with open(made, "wb") as f:
                f.write(make_container(plain_of(size), PASSWORD))
            done = run(tool, ["cat", made], aside)
            if done.returncode != 0 or done.stdout != plain_of(size):
                failures.append("quillix-crypt cat of a container of %d bytes made here: status %d, %s" %
                                (size, done.returncode, done.stderr.decode(errors="replace").strip()))
    for failure in failures:
        print(failure)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
