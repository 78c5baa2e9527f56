#!/usr/bin/env python3
# SPDX-License-Identifier: LGPL-2.1-or-later
"""Writes seeds for card_cache_fuzz into the directory given: the cards part
of card cache files (what follows the header; the target adds the header and
the checksum), small and up to 1 MB: mail users and groups, texts and dates,
long texts, many cards."""
import random
import struct
import sys
from pathlib import Path

out = Path(sys.argv[1])
out.mkdir(parents=True, exist_ok=True)
rng = random.Random(11)

PT_STRING8, PT_SYSTIME = 0x001E, 0x0040
MAILUSER, DISTLIST = 6, 8


def text(s):
    b = s if isinstance(s, bytes) else s.encode()
    return struct.pack("<I", len(b)) + b


def stamp():
    return struct.pack("<QQqqq", 2049, rng.getrandbits(32), 4096 * rng.randint(1, 99),
                       1700000000 * 10**9 + rng.getrandbits(30), 1700000000 * 10**9)


def card(i, props, kind=b"U", objtype=MAILUSER):
    body = kind + text("c0ffee-%d" % i) + struct.pack("<QQI", rng.getrandbits(64),
                                                      rng.getrandbits(64), objtype)
    body += text("c0ffee-%d" % i) + struct.pack("<I", len(props))
    # The properties' block: each tag with the end of its bytes, then the
    # bytes (a time property's time before its text).
    records, texts = b"", b""
    for tag, time, value in sorted(props):
        if tag & 0xFFFF == PT_SYSTIME:
            texts += struct.pack("<q", time)
        texts += value if isinstance(value, bytes) else value.encode()
        records += struct.pack("<II", tag, len(texts))
    return body + records + texts


def cards(items, settled=1):
    return (struct.pack("<Q", rng.getrandbits(64)) + stamp() + stamp() + bytes([settled]) +
            struct.pack("<I", len(items)) + b"".join(items))


def person(i, note=""):
    props = [(0x3001 << 16 | PT_STRING8, 0, "Person %d" % i),
             (0x3003 << 16 | PT_STRING8, 0, "p%d@example.org" % i),
             (0x3A1C << 16 | PT_STRING8, 0, "+1 555 %04d" % i),
             (0x3A42 << 16 | PT_SYSTIME, 132000000000000000 + i, "")]
    if note:
        props.append((0x3004 << 16 | PT_STRING8, 0, note))
    return card(i, props)


(out / "one").write_bytes(cards([person(1)]))
(out / "group").write_bytes(cards([card(2, [(0x3001 << 16 | PT_STRING8, 0, "Friends")],
                                        objtype=DISTLIST), person(3)], settled=0))
(out / "fingerprint").write_bytes(cards([card(4, [(0x3001 << 16 | PT_STRING8, 0, "F")], b"F")]))
(out / "empty").write_bytes(cards([]))
(out / "long-note").write_bytes(cards([person(5, "note, ;\\\n" * 100000)]))
(out / "many").write_bytes(cards([person(i) for i in range(6000)]))
(out / "bytes").write_bytes(cards([card(6, [(0x3001 << 16 | PT_STRING8, 0,
                                             bytes(range(256)) * 3000)])]))
