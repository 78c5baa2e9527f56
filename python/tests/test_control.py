# SPDX-License-Identifier: LGPL-2.1-or-later
"""Hosting controls headless: the window lives from creation to close(), the
end of a with block, collection, or the end of the interpreter."""

import gc

import pytest

import mailquarry
from conftest import require

E_NOINTERFACE = 0x80004002


@pytest.fixture(autouse=True)
def gauge_module():
    require("mq_pytest_server.so", "sample_server.so", why="the test servers are missing")


def test_window_lives_until_close_with_block_or_collection(markers):
    gauge = mailquarry.Control("MqPyTest.Gauge.1")
    assert repr(gauge) == "<mailquarry.Control _DGauge>"
    assert gauge.WindowOpen is True and not gauge.closed
    assert len(list(markers.iterdir())) == 1
    gauge.close()
    gauge.close()  # closing twice is harmless
    assert gauge.closed and repr(gauge) == "<mailquarry.Control (closed)>"
    assert list(markers.iterdir()) == []
    with pytest.raises(RuntimeError, match="closed"):
        gauge.WindowOpen
    with pytest.raises(mailquarry.AutomationError) as error:  # a plain object is no control
        mailquarry.Control("Sample.Counter.1")
    assert error.value.hresult == E_NOINTERFACE

    # The end of a with block and collection destroy it too.
    with mailquarry.Control("{393B2FE0-2569-4465-AA8D-3FEF7628F960}") as gauge:
        assert len(list(markers.iterdir())) == 1
    assert gauge.closed and list(markers.iterdir()) == []

    gauge = mailquarry.Control("MqPyTest.Gauge.1", user_mode=False)
    assert len(list(markers.iterdir())) == 1
    del gauge
    gc.collect()
    assert list(markers.iterdir()) == []

