#!/usr/bin/env python3
# SPDX-License-Identifier: LGPL-2.1-or-later
"""Writes a few large messages (200 KB to 1 MB) into the directory given, as
seeds for a fuzz run with large inputs: many parts, long header lines, a big
base64 attachment, a long 8-bit single part, deep nesting with uuencode."""
import base64
import random
import sys
from pathlib import Path

out = Path(sys.argv[1])
out.mkdir(parents=True, exist_ok=True)
rng = random.Random(7)


def noise(n):
    return bytes(rng.getrandbits(8) for _ in range(n))


def b64(data):
    return base64.encodebytes(data).decode().replace("\n", "\r\n")


def header(extra=""):
    return ("Return-Path: <a@example.org>\r\nFrom: A <a@example.org>\r\nTo: b@example.org\r\n"
            "Subject: big\r\nDate: Tue, 31 Dec 1968 23:59:58 +0000\r\nMIME-Version: 1.0\r\n" + extra)


def write(name, text, encoding="utf-8"):
    (out / name).write_bytes(text.encode(encoding))


parts = "".join(
    "--b\r\nContent-Type: application/octet-stream; name=\"f%d (%d).bin\"\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "Content-Disposition: attachment; filename=\"f%d.bin\"\r\n\r\n%s\r\n" % (i, i, i, b64(noise(200)))
    for i in range(2000))
write("many_parts.eml", header('Content-Type: multipart/mixed; boundary="b"\r\n\r\n') + parts + "--b--\r\n")

cc = ",\r\n ".join("User %d <u%d@example.org>" % (i, i) for i in range(8000))
write("long_headers.eml",
      header().replace("Subject: big", "Subject: " + "x" * 150000) + "Delivered-To: " + "d" * 50000 +
      "@example.org\r\nCc: " + cc + "\r\nContent-Type: text/plain\r\n\r\nbody\r\n")

write("big_base64.eml",
      header('Content-Type: multipart/mixed; boundary="b"\r\n\r\n') +
      "--b\r\nContent-Type: text/plain\r\n\r\nsee\r\n--b\r\nContent-Type: image/png\r\n"
      "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=\"big.png\"\r\n\r\n" +
      b64(noise(700000)) + "--b--\r\n")

write("big_single.eml",
      "From: x@example.org\r\nSubject: s\r\nContent-Type: text/plain; charset=iso-8859-1\r\n\r\n" +
      "Sch\xf6ne Gr\xfc\xdfe line\r\n" * 20000 + "Return-Path: <late@example.org>\r\n", "latin-1")

inner = "Subject: inner/one\\two\r\nContent-Type: text/plain\r\n\r\n" + "t" * 1000 + "\r\n"
uu = ("M" + "A" * 60 + "\r\n") * 60
for d in range(60):
    inner = ('Subject: level %d\r\nContent-Type: multipart/mixed; boundary="n%d"\r\n\r\n'
             "--n%d\r\nContent-Type: message/rfc822\r\n\r\n%s\r\n--n%d\r\n"
             "Content-Type: application/octet-stream\r\nContent-Transfer-Encoding: x-uuencode\r\n\r\n"
             "begin 644 u%d.txt\r\n%s`\r\nend\r\n--n%d--\r\n" % (d, d, d, inner, d, d, uu, d))
write("nested_uu.eml", header() + inner)
