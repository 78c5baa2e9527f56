# SPDX-License-Identifier: LGPL-2.1-or-later
"""The Mailquarry control driven from Python over the demo store. What the
README's examples do (folders, a folder's messages, .eml files, attachments,
contacts) is theirs; here the enumerator's own members and a script that
never closes what it made."""

import os
import pathlib
import subprocess
import sys
import textwrap
import time

import pytest

import mailquarry
from conftest import BIN, require

PROGID = "MAILQUARRY.MailquarryCtrl.1"


@pytest.fixture
def store(tmp_path, monkeypatch):
    require("MailStore.so", "AddressBook.so", "Mailquarry.ocx",
            why="the control needs the store and the address book")
    if not (BIN / "demo-store").exists():
        pytest.skip("demo-store not built")
    root = tmp_path / "Maildir"
    subprocess.run([str(BIN / "demo-store"), str(root)], check=True, capture_output=True)
    monkeypatch.setenv("MAILDIR", str(root))
    monkeypatch.setenv("MAILQUARRY_ADDRESSBOOK", str(tmp_path / "Maildir-contacts"))
    private_tmp = tmp_path / "tmp"
    private_tmp.mkdir()
    monkeypatch.setenv("TMPDIR", str(private_tmp))
    return root


def test_enumeration(store):
    with mailquarry.Control(PROGID) as mq:
        folders = mq.Folders
        names = [f.Name for f in folders]
        assert len(names) == folders.Count > 3 and names[0] == "Inbox"
        assert [f.Name for f in folders] == names  # a new walk each time
        e = iter(folders)
        assert next(e).Name == names[0]
        copy = e.clone()
        assert e.skip(1) is True and next(e).Name == names[2]
        assert next(copy).Name == names[1]
        assert e.skip(len(names)) is False
        with pytest.raises(StopIteration):
            next(e)
        e.reset()
        assert len(list(e)) == len(names)
        with pytest.raises(TypeError, match="not iterable"):
            iter(mq)
        # len() counts through the enumerator; an empty collection stays true.
        assert len(folders) == len(names)
        mq.Folder = names.index("Projects")
        assert len(mq.Messages) == mq.Messages.Count == 4
        mq.Folder = -1
        assert len(mq.Messages) == 0 and mq.Messages
        with pytest.raises(TypeError):
            len(mq)


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
        probe = mailquarry.Dispatch("MqPyTest.Gauge.1")
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
