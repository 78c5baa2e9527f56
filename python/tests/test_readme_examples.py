# SPDX-License-Identifier: LGPL-2.1-or-later
"""The README's example sessions, run as the README shows them on a fresh demo
store: each command must print exactly the lines the README shows under it,
and the README must show each example script as it is. Everything is read
from README.md itself, so the text cannot go stale."""

import os
import pathlib
import re
import shlex
import subprocess
import sys

import pytest

from conftest import BIN, require

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"


def shown_sessions():
    """The README's plain code blocks that run an example script, each as a
    list of (command, printed lines) in the order shown."""
    sessions = []
    fence = None  # the opening line of the block we are in
    steps = []
    for line in README.read_text(encoding="utf-8").splitlines():
        if line.startswith("```"):
            if fence is None:
                fence, steps = line, []
            else:
                if fence == "```" and any("python/examples/" in c for c, _ in steps):
                    sessions.append(steps)
                fence = None
        elif fence == "```":
            if line.startswith("$ "):
                steps.append((line[2:], []))
            elif steps:
                steps[-1][1].append(line)
    return sessions


SESSIONS = shown_sessions()


def example_of(session):
    return next(pathlib.Path(word).name for command, _ in session
                for word in shlex.split(command) if word.startswith("python/examples/"))


def localised(word, tmp_path):
    """A word of a README command, with its places moved to this test's own."""
    if word.startswith("/tmp/"):
        return str(tmp_path / word[len("/tmp/"):])
    if word.startswith("build/bin/"):
        return str(BIN / word[len("build/bin/"):])
    if word == "build/python":
        return os.environ["PYTHONPATH"]
    if word.startswith("python/examples/"):
        return str(README.parent / word)
    if word == "python3":
        return sys.executable
    return word


def run(command, tmp_path):
    env = dict(os.environ)
    words = shlex.split(command)
    while words and "=" in words[0] and not words[0].startswith(("/", ".")):
        name, value = words.pop(0).split("=", 1)
        env[name] = localised(value, tmp_path)
    argv = [localised(word, tmp_path) for word in words]
    return subprocess.run(argv, env=env, cwd=tmp_path, capture_output=True, encoding="utf-8",
                          timeout=300)


def test_the_readme_shows_both_examples_run():
    assert sorted(example_of(s) for s in SESSIONS) == ["contacts.py", "export_folder.py"]


@pytest.mark.parametrize("session", SESSIONS, ids=[example_of(s) for s in SESSIONS])
def test_each_command_prints_what_the_readme_shows(session, tmp_path):
    require("MailStore.so", "AddressBook.so", "Mailquarry.ocx",
            why="the examples drive the control over the store and the address book")
    if not (BIN / "demo-store").exists():
        pytest.skip("demo-store not built")
    book, written = tmp_path / "demo-Maildir-contacts", None
    for command, shown in session:
        result = run(command, tmp_path)
        assert result.returncode == 0, f"{command}\n{result.stderr}"
        # The README shows the places as its commands name them.
        printed = result.stdout.replace(f"{tmp_path}/", "/tmp/")
        assert printed.splitlines() == shown, command
        for name in re.findall(r"^  (\d{3} .*\.eml):", printed, re.M):  # listed, so written
            assert (tmp_path / "export" / name).stat().st_size > 0, name
        if written is None and book.is_dir():
            written = {p.name: p.read_bytes() for p in book.iterdir()}
    # The examples take back what they add: the book is as demo-store wrote it.
    assert {p.name: p.read_bytes() for p in book.iterdir()} == written
    script = (README.parent / "python" / "examples" / example_of(session)).read_text()
    # The README shows the script without its licence line.
    script = re.sub(r"\A# SPDX-License-Identifier: .*\n", "", script)
    assert "```python\n" + script + "```" in README.read_text(encoding="utf-8")
