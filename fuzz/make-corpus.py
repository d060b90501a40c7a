#!/usr/bin/env python3
"""Writes the fuzzer's seed corpus (small hand-made inputs) into corpus/."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
RECORD = b'{"fontId":"1234","version":"2.001"}'


def meta(entries):
    out = struct.pack(">IIII", 1, 0, 0, len(entries))
    offset = 16 + 12 * len(entries)
    for tag, payload in entries:
        out += struct.pack(">4sII", tag, offset, len(payload))
        offset += len(payload)
    return out + b"".join(p for _, p in entries)


def sfnt(tables):
    tables = sorted(tables)
    out = struct.pack(">IHHHH", 0x00010000, len(tables), 16, 0, 0)
    offset = 12 + 16 * len(tables)
    body = b""
    for tag, data in tables:
        out += struct.pack(">4sIII", tag, 0, offset + len(body), len(data))
        body += data + b"\0" * (-len(data) % 4)
    return out + body


def collection(fonts):
    header = struct.pack(">4sII", b"ttcf", 0x00010000, len(fonts))
    base = len(header) + 4 * len(fonts)
    offsets, body = [], b""
    for font in fonts:
        offsets.append(base + len(body))
        count = struct.unpack(">H", font[4:6])[0]
        font = bytearray(font)
        for i in range(count):
            at = 12 + 16 * i + 8
            struct.pack_into(">I", font, at, struct.unpack(">I", font[at:at + 4])[0] + offsets[-1])
        body += bytes(font)
    return header + b"".join(struct.pack(">I", o) for o in offsets) + body


def main():
    corpus = os.path.join(HERE, "corpus")
    os.makedirs(corpus, exist_ok=True)
    with_record = meta([(b"dlng", b"Latn"), (b"OSKV", RECORD)])
    seeds = {
        "record.json": RECORD,
        "meta.bin": with_record,
        "font.ttf": sfnt([(b"meta", with_record), (b"maxp", struct.pack(">IH", 0x5000, 1))]),
        "collection.ttc": collection([sfnt([(b"meta", meta([(b"dlng", b"Latn")]))]),
                                      sfnt([(b"meta", meta([(b"OSKV", RECORD)]))])]),
    }
    for name, data in seeds.items():
        with open(os.path.join(corpus, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
