#!/usr/bin/env python3
"""Writes the fuzzers' seed corpora (small hand-made inputs) into corpus/<target>/.

The seeds are shaped as the real inputs are: a font and its record, the event
stream as the service sends it, the service's answers, and the property lists
TAVO writes (XML) or finds (binary)."""
import datetime
import json
import os
import plistlib
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


def fontid_seeds():
    with_record = meta([(b"dlng", b"Latn"), (b"OSKV", RECORD)])
    return {
        "record.json": RECORD,
        "meta.bin": with_record,
        "font.ttf": sfnt([(b"meta", with_record), (b"maxp", struct.pack(">IH", 0x5000, 1))]),
        "collection.ttc": collection([sfnt([(b"meta", meta([(b"dlng", b"Latn")]))]),
                                      sfnt([(b"meta", meta([(b"OSKV", RECORD)]))])]),
    }


FONT = {"userFontId": "uf-1001", "activateFlg": True, "fontId": "F1001",
        "displayFontName": "Kaku Gothic W3", "fileName": "KakuGothic-W3.otf",
        "fileSize": 245760, "version": "1.002", "needFontVersionUpdate": False,
        "isAvailableFont": True, "isFreemium": False, "contractIds": ["C-1", "C-2"]}


def sse_seeds():
    # First byte: the block-size limit (0: the default); second: the number
    # of cuts; then the chunk lengths; then the stream.
    def seed(stream, limit=0, cuts=()):
        return bytes([limit, len(cuts)]) + bytes(cuts) + stream
    data = json.dumps({k: FONT[k] for k in ("fontId", "displayFontName", "fileName",
                                            "fileSize", "version", "isFreemium",
                                            "contractIds")}).encode()
    activate = b"id: 41\nevent: font-activate\ndata: " + data + b"\n\n"
    return {
        "connected": seed(b": connected\n\n"),
        "keep-alive": seed(b": keep-alive\n\n: keep-alive\n\n"),
        "activate": seed(activate),
        "activate-cut": seed(activate, cuts=(5, 17, 1, 1, 40)),
        "deactivate": seed(b"id: 42\nevent: font-deactivate\ndata: "
                           + data.replace(b"W3", b"W6") + b"\n\n"),
        "all-uninstall": seed(b"id: 43\nevent: font-all-uninstall\ndata: {}\n\n"),
        "retry": seed(b"retry: 3000\n\nid: 44\nevent: font-activate\ndata: {}\n\n"),
        "multi-line-data": seed(b"event: e\ndata: {\"a\":\ndata: 1}\n\n"),
        "crlf": seed(b"id: 3\r\nevent: e\r\n\r\ndata: d\r\n\n\n"),
        "unfinished": seed(b"id: 45\nevent: font-activate\ndata: {\"fontId\""),
        "utf8-split": seed("event: é\ndata: Grüße 😀 字\n\n".encode(), cuts=(8, 1, 1, 9, 1, 1, 1)),
        "bad-utf8": seed(b"event: \xff\xc3\ndata: \xe0\x80\xed\xa0\x80\xf4\x90\n\n"),
        "oversized": seed(b"data: " + b"x" * 80 + b"\n\nid: 9\nevent: ok\n\n", limit=32,
                          cuts=(20, 30)),
        "big-id": seed(b"id: 184467440737095516160\nevent: font-activate\ndata: {}\n\n"),
        "extra-fields": seed(b"  event:   spaced  \n\tdata:\tx\nfoo: bar\nfoo: baz\n:c\n\n"),
    }


def envelope(data, code=0, message="success"):
    body = {"code": code, "message": message}
    if data is not None:
        body["data"] = data
    return json.dumps(body).encode()


def model_seeds():
    second = dict(FONT, fontId="F1002", userFontId="uf-1002", activateFlg=False,
                  fileSize=1024.0, contractIds=[])
    return {
        "fonts-page": envelope({"fonts": [FONT, second], "hasNext": True}),
        "fonts-last-page": envelope({"fonts": [FONT], "hasNext": False}),
        "fonts-empty-next": envelope({"fonts": [], "hasNext": True}),
        "fonts-wrong-types": envelope({"fonts": {"0": FONT}, "hasNext": "yes"}),
        "fonts-odd-values": envelope({"fonts": [dict(FONT, fileSize="12", activateFlg=1,
                                                     isFreemium=None), 7, None],
                                      "hasNext": 0}),
        "login": envelope({"accessToken": "at-1", "refreshToken": "rt-1"}),
        "two-factor": envelope(None, code=1002, message="two-factor code required"),
        "token": envelope({"accessToken": "at-2"}),
        "refresh-token": envelope({"accessToken": "at-3", "refreshToken": "rt-3"}),
        "device-id": envelope({"deviceId": "7d3c8a9e-1111-4c3b-9a55-0123456789ab"}),
        "devices": envelope([{"userDeviceId": "ud-1", "deviceId": "d-1", "hostname": "desk",
                              "osUserName": "kim", "osType": "Linux", "osVersion": "12"}]),
        "device-limit": envelope(None, code=1011, message="device limit reached"),
        "unknown-device": envelope(None, code=1001, message="unknown device"),
        "logout": envelope(None),
        "customer": envelope({"lastName": "Kim", "firstName": "Ha", "mailAddress": "k@x.test",
                              "groupMemberType": 1}),
        "client-apps": envelope({"version": "2.1.0", "url": "http://127.0.0.1/c.zip",
                                 "forcedUpdate": False}),
        "fault": envelope(None, code=500, message="injected fault"),
        "code-float": b'{"code":0.0,"message":"ok","data":{"accessToken":"a"}}',
        "code-huge": b'{"code":18446744073709551616,"message":null,"data":[]}',
        "fragment": b'"just a string"',
        "deep": b'{"data":' * 70 + b"1" + b"}" * 70,
        "truncated": envelope({"fonts": [FONT]})[:60],
        "escapes": b'{"code":0,"message":"a\\n[INFO] b\\u0000 \\ud83d\\ude00"}',
        "html": b"<html><body>502 Bad Gateway</body></html>",
    }


def plist_seeds():
    when = datetime.datetime(2026, 12, 1, 3, 4, 5)
    config = {"Device ID": "7d3c8a9e-1111-4c3b-9a55-0123456789ab",
              "Refresh Tokens": {"k@x.test": "rt-1"}, "Mail Address": "k@x.test",
              "Last Name": "Kim", "First Name": "Ha", "Last Event ID": "41",
              "Group Member Type": 1, "Scheduled Date": when, "Forced Update": False}
    fonts = {"F1001": {"File Name": "KakuGothic-W3.otf", "Display Font Name": "Kaku Gothic W3",
                       "Activate": True, "Available Font": True, "Freemium": False,
                       "ContractIds": ["C-1", "C-2"], "Status Type": "installed",
                       "Font File Update Date": when, "Font StorageLocation Type": 1},
             "F1002": {"File Name": "Mincho.otf", "Activate": False,
                       "Status Type": "notInstalled", "ContractIds": []}}
    mixed = {"real": 1.5, "negative": -3, "big": 2 ** 63 - 1, "data": b"\x00\x01\xff",
             "empty": "", "array": [1, "two", [3.0], {}], "nested": {"a": {"b": {"c": True}}}}
    seeds = {}
    for name, value in (("config", config), ("fonts", fonts), ("mixed", mixed),
                        ("server", {"deliveServerName": "http://127.0.0.1:8930",
                                    "noticeServerName": "http://127.0.0.1:8931"}),
                        ("string", "text"), ("array", ["a", 1, True])):
        seeds[name + ".xml"] = plistlib.dumps(value, fmt=plistlib.FMT_XML)
        seeds[name + ".bin"] = plistlib.dumps(value, fmt=plistlib.FMT_BINARY)
    seeds["empty-dict.xml"] = plistlib.dumps({}, fmt=plistlib.FMT_XML)
    seeds["truncated.xml"] = seeds["config.xml"][:200]
    seeds["truncated.bin"] = seeds["config.bin"][:-20]
    return seeds


def main():
    for target, seeds in (("fontid", fontid_seeds()), ("sse", sse_seeds()),
                          ("models", model_seeds()), ("plist", plist_seeds())):
        folder = os.path.join(HERE, "corpus", target)
        os.makedirs(folder, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
