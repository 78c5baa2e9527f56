"""The Mailquarry control driven from Python over fixture Maildirs."""

import base64
import os
import pathlib
import subprocess
import sys
import textwrap
import time

import pytest

import mailquarry
from conftest import require

PROGID = "MAILQUARRY.MailquarryCtrl.1"


def message(subject, body="Hello.\r\n", attachment=None, sender="Ann <ann@example.org>"):
    head = (f"From: {sender}\r\nTo: Bo <bo@example.org>\r\nSubject: {subject}\r\n"
            "Date: Sun, 05 Mar 2006 14:07:09 +0000\r\nMessage-ID: <{}@fixture>\r\n"
            "MIME-Version: 1.0\r\n").format(abs(hash(subject)))
    if not attachment:
        return (head + "Content-Type: text/plain; charset=utf-8\r\n\r\n" + body).encode()
    name, data = attachment
    return (head + 'Content-Type: multipart/mixed; boundary="b"\r\n\r\n'
            "--b\r\nContent-Type: text/plain\r\n\r\n" + body +
            "--b\r\nContent-Type: application/octet-stream\r\n"
            f'Content-Disposition: attachment; filename="{name}"\r\n'
            "Content-Transfer-Encoding: base64\r\n\r\n" +
            base64.b64encode(data).decode() + "\r\n--b--\r\n").encode()


def make_maildir(root, folders):
    """folders: {"": [...messages of Inbox], "Name": [...], "Name.Child": [...]}."""
    serial = 0
    for name, messages in folders.items():
        folder = root if not name else root / f".{name}"
        for sub in ("cur", "new", "tmp"):
            (folder / sub).mkdir(parents=True, exist_ok=True)
        if name:
            (folder / "maildirfolder").touch()
        for raw in messages:
            serial += 1
            path = folder / "cur" / f"{1141567629 + serial}.M{serial}P1.fixture:2,S"
            path.write_bytes(raw)
            os.utime(path, (1141567629 + serial,) * 2)


@pytest.fixture
def store(tmp_path, monkeypatch):
    require("MailStore.so", "Mailquarry.ocx", why="the store module and the control have not landed")
    root = tmp_path / "Maildir"
    make_maildir(root, {
        "": [message("Hello"),
             message("=?UTF-8?Q?Gr=C3=BC=C3=9Fe_=E2=9C=93?=", attachment=("report.txt", b"data\n")),
             message("Plan", attachment=("plan.bin", bytes(range(256))))],
        "Archive": [message("Old one")],
        "Archive.2006": [],
    })
    monkeypatch.setenv("MAILDIR", str(root))
    private_tmp = tmp_path / "tmp"
    private_tmp.mkdir()
    monkeypatch.setenv("TMPDIR", str(private_tmp))
    return root


def test_round_trip(store, tmp_path):
    out = tmp_path / "out"
    out.mkdir()
    with mailquarry.Control(PROGID) as mq:
        folders = mq.Folders
        names = [folders.FindFolderName(i) for i in range(folders.Count)]
        assert names[0] == "Inbox" and "Archive" in names and len(names) == 3
        assert folders.Item(1).Name == "Inbox" and folders.Item("Archive").Name == "Archive"

        mq.Folder = 0
        assert mq.folder == 0
        messages = mq.Messages
        assert messages.Count == 3
        subjects = [messages.FindSubject(i) for i in range(messages.Count)]
        assert sorted(subjects) == ["Grüße ✓", "Hello", "Plan"]
        greeting = subjects.index("Grüße ✓")
        assert messages.Item("Grüße ✓").Subject == "Grüße ✓"
        assert messages.FindIndexFromSubject("Grüße ✓") == greeting

        eml = out / "greeting.eml"
        assert messages.Save2eml(greeting, str(eml)) is True
        stored = next(p for p in (store / "cur").iterdir() if b"Gr=C3" in p.read_bytes())
        assert eml.read_bytes() == stored.read_bytes()
        assert messages.GetAttachmentCount(greeting) == 1
        assert messages.GetAttachmentName(greeting, 0) == "report.txt"
        assert messages.ExtractAttachment(greeting, str(out) + os.sep) is True
        assert (out / "report.txt").read_bytes() == b"data\n"


def test_enumeration(store):
    with mailquarry.Control(PROGID) as mq:
        folders = mq.Folders
        assert [f.Name for f in folders] == ["Inbox", "Archive", "2006"]
        assert [f.Name for f in folders] == ["Inbox", "Archive", "2006"]  # a new walk each time
        e = iter(folders)
        assert next(e).Name == "Inbox"
        copy = e.clone()
        assert e.skip(1) is True and next(e).Name == "2006"
        assert next(copy).Name == "Archive"
        assert e.skip(1) is False
        with pytest.raises(StopIteration):
            next(e)
        e.reset()
        assert len(list(e)) == 3
        mq.Folder = 0
        assert sorted(m.Subject for m in mq.Messages) == ["Grüße ✓", "Hello", "Plan"]
        with pytest.raises(TypeError, match="not iterable"):
            iter(mq)


def test_script_ending_without_close(store, markers, tmp_path, monkeypatch):
    # Objects left in globals, in a cycle, in a closure, an enumerator left
    # mid-walk, and one whose reference is never given back (as a leaking
    # extension would keep it), which the interpreter alone would never
    # release: the module still destroys every window at exit, so the test
    # control's marker and the temporary .eml ViewMessage wrote for the
    # viewer are gone.
    require("mq_pytest_server.so", why="the test server is missing")
    viewer_log = tmp_path / "viewer.log"
    fake_bin = tmp_path / "bin"
    fake_bin.mkdir()
    viewer = fake_bin / "xdg-open"
    viewer.write_text(f'#!/bin/sh\necho "$1" >> "{viewer_log}"\n')
    viewer.chmod(0o755)
    monkeypatch.setenv("PATH", f"{fake_bin}:{os.environ['PATH']}")
    script = textwrap.dedent(f"""
        import ctypes
        import mailquarry
        gauge = mailquarry.Control("MqPyTest.Gauge.1")
        ctypes.pythonapi.Py_IncRef(ctypes.py_object(mailquarry.Control("MqPyTest.Gauge.1")))
        probe = mailquarry.Dispatch("MqPyTest.Probe.1")
        mq = mailquarry.Control("{PROGID}")
        mq.Folder = 0
        messages = mq.Messages
        walker = iter(mq.Folders)
        next(walker)
        cycle = [gauge, probe, mq]
        cycle.append(cycle)
        keep = lambda: (gauge, probe, messages)
        print(gauge.WindowOpen, messages.ViewMessage(0), flush=True)
    """)
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                            timeout=120)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "True True"
    assert "ERROR" not in result.stderr and "runtime error" not in result.stderr, result.stderr
    assert list(markers.iterdir()) == []
    for _ in range(400):  # the viewer runs on its own, after the call returned
        if viewer_log.exists():
            break
        time.sleep(0.05)
    viewed = viewer_log.read_text().split()
    assert len(viewed) == 1 and viewed[0].endswith(".eml")
    assert not os.path.exists(viewed[0])
    left = [p for p in pathlib.Path(os.environ["TMPDIR"]).rglob("*") if p.is_file()]
    assert left == []
