"""Hosting controls headless: the window lives from creation to close(), the
end of a with block, collection, or the end of the interpreter."""

import gc
import os
import subprocess
import sys
import textwrap

import pytest

import mailquarry
from conftest import require

E_NOINTERFACE = 0x80004002


@pytest.fixture(autouse=True)
def gauge_module():
    require("mq_pytest_server.so", why="the test server is missing")


def test_window_lives_until_close(markers):
    gauge = mailquarry.Control("MqPyTest.Gauge.1")
    assert repr(gauge) == "<mailquarry.Control _DGauge>"
    assert gauge.WindowOpen is True and not gauge.closed
    assert os.path.exists(gauge.MarkerPath)
    gauge.close()
    gauge.close()  # closing twice is harmless
    assert gauge.closed and repr(gauge) == "<mailquarry.Control (closed)>"
    assert list(markers.iterdir()) == []
    with pytest.raises(RuntimeError, match="closed"):
        gauge.WindowOpen


def test_with_block_and_collection_destroy_the_window(markers):
    with mailquarry.Control("{393B2FE0-2569-4465-AA8D-3FEF7628F960}") as gauge:
        assert len(list(markers.iterdir())) == 1
    assert gauge.closed and list(markers.iterdir()) == []

    gauge = mailquarry.Control("MqPyTest.Gauge.1", user_mode=False)
    assert len(list(markers.iterdir())) == 1
    del gauge
    gc.collect()
    assert list(markers.iterdir()) == []


def test_a_plain_object_cannot_be_hosted():
    with pytest.raises(mailquarry.AutomationError) as error:
        mailquarry.Control("MqPyTest.Probe.1")
    assert error.value.hresult == E_NOINTERFACE


def test_script_ending_without_close(markers):
    # Objects left in globals, in a cycle, in a closure, and one whose
    # reference is never given back (as a leaking extension would keep it),
    # which the interpreter alone would never release.
    script = textwrap.dedent("""
        import ctypes
        import mailquarry
        gauge = mailquarry.Control("MqPyTest.Gauge.1")
        ctypes.pythonapi.Py_IncRef(ctypes.py_object(mailquarry.Control("MqPyTest.Gauge.1")))
        probe = mailquarry.Dispatch("MqPyTest.Probe.1")
        cycle = [gauge, probe]
        cycle.append(cycle)
        keep = lambda: (gauge, probe)
        print(gauge.WindowOpen, flush=True)
    """)
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                            timeout=120)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "True"
    assert "ERROR" not in result.stderr and "runtime error" not in result.stderr, result.stderr
    assert list(markers.iterdir()) == []
