# SPDX-License-Identifier: LGPL-2.1-or-later
"""Each test session gets a registry of its own, with the built modules
registered into it by the built regsvr, before anything imports mailquarry."""

import os
import pathlib
import shutil
import subprocess
import tempfile

import pytest

BIN = pathlib.Path(os.environ.get("MQ_BIN_DIR", "build/bin")).resolve()
SESSION_DIR = pathlib.Path(tempfile.mkdtemp(prefix="mq_pytest."))
os.environ["MAILQUARRY_REGISTRY"] = str(SESSION_DIR / "registry")

# Registered in this order: the store and the address book before the control
# that uses them.
MODULES = ["sample_server.so", "mq_pytest_server.so", "MailStore.so", "AddressBook.so",
           "Mailquarry.ocx"]
REGISTERED = set()
_passed = 0


def pytest_configure(config):
    for name in MODULES:
        path = BIN / name
        if not path.exists():
            continue
        result = subprocess.run([str(BIN / "regsvr"), str(path)], capture_output=True, text=True)
        if result.returncode != 0:
            raise pytest.UsageError(f"regsvr {path} failed:\n{result.stdout}{result.stderr}")
        REGISTERED.add(name)


def pytest_runtest_logreport(report):
    global _passed
    if report.when == "call" and report.passed:
        _passed += 1


def pytest_sessionfinish(session, exitstatus):
    # A run in which nothing passed is a failure, never a silent success.
    if exitstatus == 0 and _passed == 0:
        session.exitstatus = 1
    shutil.rmtree(SESSION_DIR, ignore_errors=True)


def require(*modules, why):
    missing = [m for m in modules if m not in REGISTERED]
    if missing:
        pytest.skip(f"{', '.join(missing)} not built: {why}")


@pytest.fixture
def markers(tmp_path, monkeypatch):
    """The directory where test controls leave a file while their window exists."""
    path = tmp_path / "markers"
    path.mkdir()
    monkeypatch.setenv("MQ_PYTEST_MARKERS", str(path))
    return path
