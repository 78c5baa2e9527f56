# SPDX-License-Identifier: LGPL-2.1-or-later
"""Late binding over IDispatch: the runtime's sample counter and the probe
server of these tests."""

import threading

import pytest

import mailquarry
from conftest import require

DISP_E_EXCEPTION = 0x80020009
DISP_E_TYPEMISMATCH = 0x80020005
DISP_E_OVERFLOW = 0x8002000A
DISP_E_BADPARAMCOUNT = 0x8002000E
E_INVALIDARG = 0x80070057
CO_E_CLASSSTRING = 0x800401F3


@pytest.fixture
def counter():
    require("sample_server.so", why="the runtime's sample module is missing")
    return mailquarry.Dispatch("Sample.Counter.1")


@pytest.fixture
def probe():
    require("mq_pytest_server.so", why="the test server is missing")
    return mailquarry.Dispatch("MqPyTest.Gauge.1")  # its Echo


def test_properties_methods_and_indexed_properties(counter, probe):
    assert repr(counter) == "<mailquarry.Dispatch ICounter>"
    assert (counter.Count, counter.Name, counter.Enabled) == (0, "counter", True)
    counter.name = "Zähler"  # names are case-insensitive
    counter.ENABLED = False
    assert (counter.NAME, counter.enabled) == ("Zähler", False)
    assert counter.Add(5) == 5 and counter.add(-7) == -2 and counter.Count == 2
    assert counter.Label(3, "n") == "n3"
    # A property with an argument is called; an object comes back wrapped.
    item = counter.Item(1)
    assert isinstance(item, mailquarry.Dispatch) and item == counter
    assert counter.Item(2) is None
    assert counter.Child.Name == "Zähler"
    assert repr(counter.Add) == "<mailquarry.Method ICounter.Add>"
    assert {"Add", "Count", "Name"} <= set(dir(counter))
    assert "_NewEnum" not in dir(counter)
    assert probe.Echo(counter) == counter and probe.Echo(counter).Name == "Zähler"

    with pytest.raises(mailquarry.AutomationError) as error:
        mailquarry.Dispatch("No.Such.Class")
    assert error.value.hresult == CO_E_CLASSSTRING and error.value.arg_index is None

    with pytest.raises(AttributeError, match="no member 'Nope'"):
        counter.Nope
    with pytest.raises(AttributeError):
        counter.Nope = 1
    with pytest.raises(AttributeError, match="cannot be written"):
        counter.Count = 3
    with pytest.raises(AttributeError):
        counter.__array_interface__


def test_failed_calls_and_integer_ranges(counter, probe):
    with pytest.raises(mailquarry.AutomationError) as error:
        counter.Fail()
    e = error.value
    assert isinstance(e, Exception)
    assert (e.hresult, e.scode, e.description, e.arg_index) == (
        DISP_E_EXCEPTION, E_INVALIDARG, "The counter refuses", None)
    assert "The counter refuses" in str(e)

    # arg_index counts in call order, although the server reports the
    # position in its reversed argument array; a put's value comes last.
    for call, hresult, index in [
            (lambda: counter.Label(3, probe), DISP_E_TYPEMISMATCH, 1),
            (lambda: counter.Label("three", "n"), DISP_E_TYPEMISMATCH, 0),
            (lambda: setattr(counter, "Enabled", "not a bool"), DISP_E_TYPEMISMATCH, 0),
            (lambda: counter.Label(3), DISP_E_BADPARAMCOUNT, None),
            # fits 32 bits; the server's 16-bit argument refuses it
            (lambda: counter.Label(32768, "n"), DISP_E_OVERFLOW, 0)]:
        with pytest.raises(mailquarry.AutomationError) as error:
            call()
        assert (error.value.hresult, error.value.arg_index) == (hresult, index)
    assert counter.Label(-32768, "n") == "n-32768"  # the object still answers

    for big in (2**31, -2**31 - 1, 2**64):
        with pytest.raises(OverflowError):
            probe.Echo(big)
        with pytest.raises(OverflowError):
            counter.Enabled = big
    assert counter.Enabled is True
    with pytest.raises(TypeError, match="argument 1"):
        counter.Label(3, [2])


# Every type a value may have, and text that is not valid UTF-16, keeps its
# exact value and type through an argument and a result.
VALUES = [
    None, True, False, 0, -1, 2**31 - 1, -2**31, 1.5, "", "héllo ✓ 😀",
    "nul\x00inside", "lone \ud800 and \udfff", "\udc00", "a\udc00b",
    "😀\x00\ud800", "x" * 100000,
]


def test_values_round_trip(probe):
    for value in VALUES:
        echoed = probe.Echo(value)
        assert echoed == value and type(echoed) is type(value), repr(value)[:40]


def test_objects_belong_to_their_thread(probe):
    errors = []

    def use():
        try:
            probe.Echo(1)
        except RuntimeError as e:
            errors.append(str(e))

    worker = threading.Thread(target=use)
    worker.start()
    worker.join()
    assert len(errors) == 1 and "thread" in errors[0]
    assert probe.Echo("still fine here") == "still fine here"
