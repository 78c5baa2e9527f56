// SPDX-License-Identifier: LGPL-2.1-or-later
// The Python side of late binding: wrappers around an IDispatch, a hosted
// control and an IEnumVARIANT, and the conversions between Python values and
// VARIANTs.
//
// Objects are apartment-bound: every wrapper remembers the thread that made it
// and refuses calls from any other (the servers behind it are apartment-
// threaded and expect every call on their creating thread). The GIL stays
// held across calls; a call blocks other Python threads until it returns.
//
// Every wrapper that holds an interface is registered while it lives, so that
// the module can release them all, controls last, before the interpreter
// finalises: nothing of a server module is touched after Python is gone.
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <unordered_map>

#include "platform/com/dispatch.h"
#include "platform/com/enum_variant.h"

namespace ui {
class ControlHost;
}

namespace mqpy {

namespace py = pybind11;

// A failed call; raised in Python as mailquarry.AutomationError.
struct AutomationFailure : std::runtime_error {
  AutomationFailure(const std::string& message, HRESULT hresult, SCODE scode = 0,
                    std::string description = {}, std::optional<std::size_t> argIndex = {})
      : std::runtime_error(message),
        hresult(hresult),
        scode(scode),
        description(std::move(description)),
        argIndex(argIndex) {}
  HRESULT hresult;
  SCODE scode;
  std::string description;
  std::optional<std::size_t> argIndex;  // in call order, from 0
};

// What the type information says about one DISPID.
struct MemberInfo {
  std::string name;
  bool method = false;
  bool get = false;
  bool put = false;
  bool putRef = false;
  bool hidden = false;  // restricted or hidden: left out of dir()
  int getParams = 0;    // required parameters of the property get
};

// The members of one dispinterface, and the names already resolved on it.
// Shared by every object of the type (keyed by the type's GUID); an object
// without type information gets one of its own.
struct TypeCache {
  std::string name;  // empty without type information
  bool described = false;
  std::unordered_map<DISPID, MemberInfo> members;
  std::unordered_map<std::string, DISPID>
      ids;  // folded name -> DISPID; DISPID_UNKNOWN: no such name
};

// A wrapper that holds interface references for one thread.
class Live {
 public:
  Live();
  Live(const Live&) = delete;
  Live& operator=(const Live&) = delete;
  virtual ~Live();

  // Releases every reference; the wrapper stays, unusable.
  virtual void Shutdown() = 0;
  // Lower ranks are shut down first; controls come last.
  virtual int ShutdownRank() const { return 0; }

 protected:
  // RuntimeError unless called on the thread that made this wrapper.
  void CheckThread() const;
  bool OnOwnerThread() const { return std::this_thread::get_id() == owner_; }

 private:
  std::thread::id owner_;
};

// Releases every live wrapper and unloads the server modules that are done;
// runs from the interpreter's atexit. Later creations raise RuntimeError.
void ShutdownAll();

// VARIANT <-> Python. `position` names the argument in errors.
void ToVariant(py::handle value, VARIANT* out, std::size_t position);
py::object FromVariant(const VARIANT& value);

class Dispatch : public Live {
 public:
  explicit Dispatch(com::ComPtr<IDispatch> dispatch);
  // Creates an object by ProgID or braced class id.
  static std::unique_ptr<Dispatch> Create(const std::string& progIdOrClsid);

  // obj.Name: a property's value, or a callable for a method or a property
  // that takes arguments.
  py::object GetAttr(py::object self, const std::string& name);
  // obj.Name = value.
  void SetAttr(const std::string& name, py::handle value);
  // Calls `id` with positional arguments; `member` names it in errors.
  py::object Invoke(DISPID id, WORD flags, const py::args& args, const std::string& member);
  // iter(obj): through _NewEnum.
  py::object Iterate();
  // len(obj): the items _NewEnum goes through, counted by skipping them, so
  // not cut to 16 bits as a collection's Count may be.
  std::size_t Length();
  std::string Repr();
  py::list Dir();
  // The same object (COM identity), whichever interface pointer is held.
  bool SameObject(Dispatch& other);
  std::size_t Hash();

  void Shutdown() override;
  // The interface for passing this object as an argument.
  IDispatch* Pointer() { return Ptr(); }

 protected:
  virtual const char* ClassName() const { return "Dispatch"; }
  // Why the object can no longer be used.
  virtual const char* GoneReason() const;
  IDispatch* Ptr();
  com::ComPtr<IDispatch> dispatch_;
  bool shutDown_ = false;

 private:
  TypeCache& Type();
  DISPID Resolve(const std::string& name);
  std::string Describe(DISPID id, const std::string& fallback);
  py::object Call(DISPID id, WORD flags, const py::args* args, py::handle putValue,
                  const std::string& member, HRESULT* failure);
  IUnknown* Identity();

  std::shared_ptr<TypeCache> type_;
};

// A control hosted headless: its window exists from creation to Close().
class Control : public Dispatch {
 public:
  Control(com::ComPtr<IDispatch> dispatch, std::unique_ptr<ui::ControlHost> host);
  ~Control() override;
  static std::unique_ptr<Control> Create(const std::string& progIdOrClsid, bool userMode);

  // Destroys the control's window and lets go of it; later calls raise.
  void Close();
  bool Closed() const { return !host_; }

  void Shutdown() override;
  int ShutdownRank() const override { return 1; }

 protected:
  const char* ClassName() const override { return "Control"; }
  const char* GoneReason() const override;

 private:
  std::unique_ptr<ui::ControlHost> host_;
};

// A member that is called rather than read: a method, or a property that
// takes arguments.
class BoundMember {
 public:
  BoundMember(py::object owner, DISPID id, WORD flags, std::string name)
      : owner_(std::move(owner)), id_(id), flags_(flags), name_(std::move(name)) {}
  py::object Call(const py::args& args);
  std::string Repr() const;

 private:
  py::object owner_;
  DISPID id_;
  WORD flags_;
  std::string name_;
};

// Python's iterator over an IEnumVARIANT.
class Enumerator : public Live {
 public:
  explicit Enumerator(com::ComPtr<IEnumVARIANT> e) : enum_(std::move(e)) {}
  py::object Next();
  // Skips `count` items; false when the end came first.
  bool Skip(unsigned long count);
  void Reset();
  std::unique_ptr<Enumerator> Clone();
  IEnumVARIANT* Pointer() { return Ptr(); }

  void Shutdown() override { enum_.Reset(); }

 private:
  IEnumVARIANT* Ptr();
  com::ComPtr<IEnumVARIANT> enum_;
};

// The Python exception class behind AutomationFailure (set once at import).
void SetAutomationErrorType(PyObject* type);
void RaiseAutomationError(const AutomationFailure& failure);

}  // namespace mqpy
