#!/usr/bin/env python3
# SPDX-License-Identifier: LGPL-2.1-or-later
"""Writes TNEF streams made to the published layout into the directory given,
as seeds for the TNEF reader's fuzz target: one file, several, a long name,
an embedded message, a calendar item, and large ones (a 900 KB attachment,
2000 small attachments, messages embedded ten deep)."""
import struct
import sys
from pathlib import Path

out = Path(sys.argv[1])
out.mkdir(parents=True, exist_ok=True)


def attr(level, ident, data):
    return struct.pack("<BII", level, ident, len(data)) + data + struct.pack("<H", sum(data) & 0xFFFF)


def stream(*attrs, cls=b"IPM.Note"):
    head = struct.pack("<IH", 0x223E9F78, 1)
    head += attr(1, 0x00089006, struct.pack("<I", 0x10000))
    head += attr(1, 0x00069007, struct.pack("<II", 1252, 0))
    head += attr(1, 0x00078008, cls + b"\0")
    return head + b"".join(attrs)


def padded(value):
    return struct.pack("<II", 1, len(value)) + value + b"\0" * ((4 - len(value) % 4) % 4)


def file(title, data, props=b"", count=0):
    parts = [attr(2, 0x00069002, struct.pack("<HIHHI", 1, 0xFFFFFFFF, 0, 0, 0)),
             attr(2, 0x00018010, title + b"\0"),
             attr(2, 0x00038013, struct.pack("<7H", 2004, 2, 17, 11, 25, 35, 2)),
             attr(2, 0x0006800F, data)]
    if count:
        parts.append(attr(2, 0x00069005, struct.pack("<I", count) + props))
    return b"".join(parts)


def long_name(name):
    return struct.pack("<HH", 0x001F, 0x3707) + padded(name.encode("utf-16-le") + b"\0\0")


def embedded(inner):
    return (struct.pack("<HHI", 0x0003, 0x3705, 5) + struct.pack("<HH", 0x000D, 0x3701) +
            padded(b"\x07" * 16 + inner))


seeds = {
    "one": stream(file(b"REPORT.DOC", b"report")),
    "several": stream(file(b"A.TXT", b"alpha"), file(b"B.PDF", b"%PDF-1.4")),
    "long-name": stream(file(b"QUARTE~1.XLS", b"x", long_name("Quarterly figures.xls"), 1)),
    "embedded": stream(file(b"MSG", b"", embedded(stream(file(b"IN.TXT", b"in"))), 2)),
    "calendar": stream(attr(1, 0x00018004, b"Call\0"), cls=b"IPM.Microsoft Schedule.MtgReq"),
    "large-data": stream(file(b"BIG.BIN", bytes(range(256)) * 3600)),
    "large-many": stream(*[file(b"F%d.TXT" % i, b"x" * 100) for i in range(2000)]),
}
deep = stream(file(b"LEAF.TXT", b"leaf"))
for _ in range(10):
    deep = stream(file(b"M", b"", embedded(deep), 2))
seeds["large-deep"] = deep
for name, data in seeds.items():
    (out / name).write_bytes(data)
