// SPDX-License-Identifier: LGPL-2.1-or-later
// The `mailquarry` Python module: late-bound access to any registered
// automation class, and headless hosting of controls.
#include <pybind11/eval.h>
#include <pybind11/pybind11.h>

#include "python/client.h"

namespace py = pybind11;
using mqpy::BoundMember;
using mqpy::Control;
using mqpy::Dispatch;
using mqpy::Enumerator;

namespace {

constexpr const char* kAutomationError = R"(
class AutomationError(Exception):
    """A failed automation call.

    hresult      the call's result code (unsigned, e.g. 0x80020009)
    scode        the server's error code when it raised one, else 0
    description  the server's description when it raised one, else ""
    arg_index    the offending argument, counted from 0 in call order, else None
    """

    def __init__(self, message, hresult=0, scode=0, description="", arg_index=None):
        super().__init__(message)
        self.hresult = hresult
        self.scode = scode
        self.description = description
        self.arg_index = arg_index
)";

}  // namespace

PYBIND11_MODULE(mailquarry, m) {
  m.doc() =
      "Late-bound automation client: create registered classes by ProgID or class id, host "
      "controls headless, read and write their properties, call their methods and loop over "
      "their collections.\n\nObjects belong to the thread that created them.";

  py::exec(kAutomationError, m.attr("__dict__"));
  mqpy::SetAutomationErrorType(m.attr("AutomationError").ptr());
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const mqpy::AutomationFailure& failure) {
      mqpy::RaiseAutomationError(failure);
    }
  });

  py::class_<Dispatch>(m, "Dispatch",
                       "An automation object reached through IDispatch. Attributes are its "
                       "members, resolved by name (case-insensitively).")
      .def(py::init(&Dispatch::Create), py::arg("progid_or_clsid"),
           "Creates an object by ProgID or braced class id.")
      .def("__getattr__",
           [](py::object self, const std::string& name) {
             return self.cast<Dispatch&>().GetAttr(self, name);
           })
      .def("__setattr__", [](Dispatch& self, const std::string& name,
                             py::handle value) { self.SetAttr(name, value); })
      .def("__iter__", &Dispatch::Iterate)
      .def("__len__", &Dispatch::Length)
      // An object is true even when it is an empty collection.
      .def("__bool__", [](Dispatch&) { return true; })
      .def("__repr__", &Dispatch::Repr)
      .def("__dir__", &Dispatch::Dir)
      .def("__eq__",
           [](Dispatch& self, py::handle other) {
             return py::isinstance<Dispatch>(other) && self.SameObject(other.cast<Dispatch&>());
           })
      .def("__hash__", &Dispatch::Hash);

  py::class_<Control, Dispatch>(m, "Control",
                                "A control created by ProgID or class id and hosted headless; "
                                "its window lives until close(), the end of a with block, or "
                                "collection.")
      .def(py::init(&Control::Create), py::arg("progid_or_clsid"), py::arg("user_mode") = true)
      .def("close", &Control::Close, "Destroys the control's window and releases it.")
      .def_property_readonly("closed", &Control::Closed)
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](Control& self, py::args) {
        self.Close();
        return false;
      });

  py::class_<BoundMember>(m, "Method", "A method, or a property that takes arguments.")
      .def("__call__", &BoundMember::Call)
      .def("__repr__", &BoundMember::Repr);

  py::class_<Enumerator>(m, "Enumerator", "An iterator over a collection's IEnumVARIANT.")
      .def("__iter__", [](py::object self) { return self; })
      .def("__next__", &Enumerator::Next)
      .def("skip", &Enumerator::Skip, py::arg("count"),
           "Skips items; False when the end came first.")
      .def("reset", &Enumerator::Reset)
      .def("clone", &Enumerator::Clone);

  // Everything is released before the interpreter finalises, controls last,
  // so no server code runs after Python is gone.
  py::module_::import("atexit").attr("register")(py::cpp_function(&mqpy::ShutdownAll));
}
