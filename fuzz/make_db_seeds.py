#!/usr/bin/env python3
# SPDX-License-Identifier: LGPL-2.1-or-later
"""Writes seeds for the fuzz target over other mail programs' databases into
the directory given: the SQL that makes a Geary account's geary.db and an
Evolution IMAP cache's folders.db of each schema (before 3.58: a table a
folder with read and deleted columns; from 3.58: messages_<folder_id> tables
with the state in the flag bits), and the database files that SQL makes, a
small one of each and large ones near 1 MB (many messages, long texts, a
database in write-ahead-log mode)."""
import sqlite3
import sys
import tempfile
from pathlib import Path

out = Path(sys.argv[1])
out.mkdir(parents=True, exist_ok=True)


def message(n, size=0):
    return ("From: Ann <ann@example.org>\nSubject: m%d\nMessage-ID: <%d@x>\n\n" % (n, n),
            "body %d\n" % n + "x" * size)


def q(text):
    return "'" + text.replace("'", "''") + "'"


def geary(count, size=0, wal=False):
    sql = ["PRAGMA journal_mode=WAL;" if wal else "",
           "CREATE TABLE FolderTable (id INTEGER PRIMARY KEY, name TEXT NOT NULL, parent_id INTEGER);",
           "CREATE TABLE MessageTable (id INTEGER PRIMARY KEY, header TEXT, body TEXT, flags TEXT);",
           "CREATE TABLE MessageLocationTable (id INTEGER PRIMARY KEY, message_id INTEGER,"
           " folder_id INTEGER, ordering INTEGER, remove_marker INTEGER DEFAULT 0);",
           "INSERT INTO FolderTable VALUES (1, 'INBOX', NULL), (2, 'Work', NULL), (3, 'Lists', 2);"]
    flags = ["\\Seen", "", "\\Seen \\Flagged", "\\Deleted", "\\Answered"]
    for n in range(1, count + 1):
        header, body = message(n, size)
        sql.append("INSERT INTO MessageTable VALUES (%d, %s, %s, %s);" % (n, q(header), q(body), q(flags[n % 5])))
        sql.append("INSERT INTO MessageLocationTable(message_id, folder_id, ordering, remove_marker)"
                   " VALUES (%d, %d, %d, %d);" % (n, n % 3 + 1, n, int(n % 7 == 0)))
    return "\n".join(sql)


def evolution(ids, count):
    folders = ["INBOX", "INBOX/Lists", "Work"]
    if ids:
        sql = ["CREATE TABLE folders (folder_name TEXT PRIMARY KEY, version INTEGER, flags INTEGER,"
               " nextuid INTEGER, time NUMERIC, saved_count INTEGER, unread_count INTEGER,"
               " deleted_count INTEGER, junk_count INTEGER, visible_count INTEGER, jnd_count INTEGER,"
               " bdata TEXT, folder_id INTEGER);",
               "CREATE TABLE keys (key TEXT PRIMARY KEY, value TEXT);"]
    else:
        sql = ["CREATE TABLE folders (folder_name TEXT PRIMARY KEY, version REAL, flags INTEGER,"
               " nextuid INTEGER, time NUMERIC, saved_count INTEGER, unread_count INTEGER,"
               " deleted_count INTEGER, junk_count INTEGER, visible_count INTEGER, jnd_count INTEGER,"
               " bdata TEXT);"]
    for i, name in enumerate(folders):
        table = "messages_%d" % (i + 1) if ids else q(name)
        sql.append("INSERT INTO folders(folder_name, version%s) VALUES (%s, 3%s);"
                   % (", folder_id" if ids else "", q(name), ", %d" % (i + 1) if ids else ""))
        if ids:
            sql.append("CREATE TABLE %s (uid TEXT, flags INTEGER, msg_type INTEGER, dirty INTEGER,"
                       " size INTEGER, dsent NUMERIC, dreceived NUMERIC, subject TEXT, mail_from TEXT,"
                       " mail_to TEXT, PRIMARY KEY (uid));" % table)
        else:
            sql.append("CREATE TABLE %s (uid TEXT PRIMARY KEY, flags INTEGER, msg_type INTEGER,"
                       " read INTEGER, deleted INTEGER, size INTEGER, subject TEXT);" % table)
        for uid in range(1, count + 1):
            flags = (16 if uid % 2 else 0) | (2 if uid % 3 == 0 else 0)
            if ids:
                sql.append("INSERT INTO %s(uid, flags, subject) VALUES ('%d', %d, 'm%d');" % (table, uid, flags, uid))
            else:
                sql.append("INSERT INTO %s(uid, flags, read, deleted, subject) VALUES ('%d', %d, %d, %d, 'm%d');"
                           % (table, uid, flags, uid % 2, int(uid % 3 == 0), uid))
    return "\n".join(sql)


def database(name, sql):
    with tempfile.TemporaryDirectory() as tmp:
        path = Path(tmp) / "seed.db"
        db = sqlite3.connect(path)
        # One transaction: a commit for each row would take minutes.
        if sql.startswith("PRAGMA"):
            pragma, _, sql = sql.partition("\n")
            db.execute(pragma.rstrip(";"))
        db.executescript("BEGIN;" + sql + "COMMIT;")
        db.commit()
        db.close()
        (out / name).write_bytes(path.read_bytes())


seeds = {
    "geary": geary(6),
    "evolution-3.56": evolution(False, 4),
    "evolution-3.58": evolution(True, 4),
}
for name, sql in seeds.items():
    (out / (name + ".sql")).write_text(sql)
    database(name + ".db", sql)
database("geary-wal.db", geary(6, wal=True))
database("geary-large.db", geary(60, size=12000))
database("evolution-3.58-large.db", evolution(True, 5000))
(out / "geary-large.sql").write_text(geary(40, size=20000))
