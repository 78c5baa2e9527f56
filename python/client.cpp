// SPDX-License-Identifier: LGPL-2.1-or-later
#include "python/client.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <functional>
#include <map>
#include <unordered_set>
#include <vector>

#include "platform/activation/activation.h"
#include "platform/com/typeinfo.h"
#include "platform/ui/control_host.h"

namespace mqpy {

namespace {

// Process-lifetime state, deliberately never destroyed: static destructors
// run after the interpreter has finalised, when nothing may be released.
std::unordered_set<Live*>& LiveSet() {
  static auto* set = new std::unordered_set<Live*>;
  return *set;
}
std::map<std::string, std::shared_ptr<TypeCache>>& TypeCaches() {
  static auto* caches = new std::map<std::string, std::shared_ptr<TypeCache>>;
  return *caches;
}
bool g_shutDown = false;
PyObject* g_automationError = nullptr;  // a reference kept for the life of the process

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

const char* HResultText(HRESULT hr) {
  switch (hr) {
    case DISP_E_MEMBERNOTFOUND:
      return "member not found";
    case DISP_E_PARAMNOTFOUND:
      return "parameter not found";
    case DISP_E_TYPEMISMATCH:
      return "type mismatch";
    case DISP_E_UNKNOWNNAME:
      return "unknown name";
    case DISP_E_NONAMEDARGS:
      return "no named arguments";
    case DISP_E_BADVARTYPE:
      return "bad variant type";
    case DISP_E_EXCEPTION:
      return "exception";
    case DISP_E_OVERFLOW:
      return "overflow";
    case DISP_E_BADINDEX:
      return "bad index";
    case DISP_E_BADPARAMCOUNT:
      return "wrong number of arguments";
    case DISP_E_PARAMNOTOPTIONAL:
      return "parameter not optional";
    case DISP_E_UNKNOWNINTERFACE:
      return "unknown interface";
    case E_NOTIMPL:
      return "not implemented";
    case E_NOINTERFACE:
      return "no such interface";
    case E_POINTER:
      return "invalid pointer";
    case E_FAIL:
      return "unspecified failure";
    case E_UNEXPECTED:
      return "unexpected failure";
    case E_INVALIDARG:
      return "invalid argument";
    case E_OUTOFMEMORY:
      return "out of memory";
    case E_ACCESSDENIED:
      return "access denied";
    case REGDB_E_CLASSNOTREG:
      return "class not registered";
    case REGDB_E_READREGDB:
      return "the registry cannot be read";
    case CO_E_CLASSSTRING:
      return "unknown ProgID or malformed class id";
    case CO_E_DLLNOTFOUND:
      return "the class's module cannot be loaded";
    case CLASS_E_CLASSNOTAVAILABLE:
      return "the module does not serve this class";
    default:
      return "failure";
  }
}

// The argument errors whose puArgErr is meaningful.
bool NamesArgument(HRESULT hr) {
  return hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND || hr == DISP_E_OVERFLOW ||
         hr == DISP_E_PARAMNOTOPTIONAL;
}

// Member names compare case-insensitively, as GetIDsOfNames does.
std::string Fold(const std::string& name) {
  std::string folded = name;
  for (char& c : folded)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return folded;
}

[[noreturn]] void ThrowRuntime(const std::string& message) {
  throw std::runtime_error(message);
}

// VARIANTs filled for one call, cleared whatever happens.
struct ArgumentArray {
  explicit ArgumentArray(std::size_t n) : items(n) {
    for (VARIANT& v : items) VariantInit(&v);
  }
  ~ArgumentArray() {
    for (VARIANT& v : items) VariantClear(&v);
  }
  std::vector<VARIANT> items;
};

struct ExcepInfoHolder {
  EXCEPINFO info{};
  ~ExcepInfoHolder() {
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
  }
};

py::object WrapDispatch(IDispatch* p) {
  if (!p) return py::none();
  auto wrapper = std::make_unique<Dispatch>(com::ComPtr<IDispatch>(p));
  return py::cast(wrapper.release(), py::return_value_policy::take_ownership);
}

py::object WrapUnknown(IUnknown* p) {
  if (!p) return py::none();
  com::ComPtr<IDispatch> dispatch;
  if (SUCCEEDED(p->QueryInterface(IID_IDispatch, dispatch.ReleaseAndGetVoidAddress())) && dispatch)
    return WrapDispatch(dispatch.Get());
  com::ComPtr<IEnumVARIANT> e;
  if (SUCCEEDED(p->QueryInterface(IID_IEnumVARIANT, e.ReleaseAndGetVoidAddress())) && e) {
    auto wrapper = std::make_unique<Enumerator>(std::move(e));
    return py::cast(wrapper.release(), py::return_value_policy::take_ownership);
  }
  throw py::type_error("the object returned offers neither IDispatch nor IEnumVARIANT");
}

py::str StrFromBstr(BSTR text) {
  if (!text) return py::str("");
  int order = -1;  // little-endian, no byte-order mark expected
  // Lone surrogates pass through as they are, so nothing is lost or refused.
  PyObject* s = PyUnicode_DecodeUTF16(reinterpret_cast<const char*>(text),
                                      static_cast<Py_ssize_t>(SysStringLen(text)) * 2,
                                      "surrogatepass", &order);
  if (!s) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(s);
}

BSTR BstrFromStr(py::handle value) {
  PyObject* bytes = PyUnicode_AsEncodedString(value.ptr(), "utf-16-le", "surrogatepass");
  if (!bytes) throw py::error_already_set();
  auto holder = py::reinterpret_steal<py::object>(bytes);
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(bytes, &data, &size) != 0) throw py::error_already_set();
  if (size > static_cast<Py_ssize_t>(UINT_MAX / 2)) throw py::value_error("string too long");
  BSTR b = SysAllocStringByteLen(data, static_cast<UINT>(size));
  if (!b) throw std::bad_alloc();
  return b;
}

}  // namespace

void SetAutomationErrorType(PyObject* type) {
  Py_XINCREF(type);
  g_automationError = type;
}

void RaiseAutomationError(const AutomationFailure& failure) {
  py::object type = py::reinterpret_borrow<py::object>(g_automationError);
  py::object index = failure.argIndex ? py::object(py::int_(*failure.argIndex)) : py::none();
  py::object error = type(failure.what(), static_cast<std::uint32_t>(failure.hresult),
                          static_cast<std::uint32_t>(failure.scode),
                          py::str(failure.description.data(), failure.description.size()), index);
  PyErr_SetObject(g_automationError, error.ptr());
}

// ---- lifetime ----

Live::Live() : owner_(std::this_thread::get_id()) {
  if (g_shutDown) ThrowRuntime("mailquarry has shut down with the interpreter");
  LiveSet().insert(this);
}

Live::~Live() {
  LiveSet().erase(this);
}

void Live::CheckThread() const {
  if (!OnOwnerThread())
    ThrowRuntime(
        "mailquarry objects belong to the thread that created them; use this one on that "
        "thread");
}

void ShutdownAll() {
  g_shutDown = true;
  std::vector<Live*> live(LiveSet().begin(), LiveSet().end());
  std::stable_sort(live.begin(), live.end(),
                   [](Live* a, Live* b) { return a->ShutdownRank() < b->ShutdownRank(); });
  for (Live* object : live) object->Shutdown();
  CoFreeUnusedLibraries();
}

// ---- conversions ----

void ToVariant(py::handle value, VARIANT* out, std::size_t position) {
  VariantInit(out);
  PyObject* o = value.ptr();
  if (o == Py_None) return;  // VT_EMPTY
  if (PyBool_Check(o)) {
    out->vt = VT_BOOL;
    out->boolVal = o == Py_True ? VARIANT_TRUE : VARIANT_FALSE;
    return;
  }
  if (PyLong_Check(o)) {
    int overflow = 0;
    long long x = PyLong_AsLongLongAndOverflow(o, &overflow);
    if (x == -1 && PyErr_Occurred()) throw py::error_already_set();
    if (overflow != 0 || x < INT32_MIN || x > INT32_MAX) {
      // Never wrapped silently: the server would get a different number.
      std::string message = "argument " + std::to_string(position) + ": " +
                            py::repr(value).cast<std::string>() +
                            " does not fit in a 32-bit automation integer";
      PyErr_SetString(PyExc_OverflowError, message.c_str());
      throw py::error_already_set();
    }
    out->vt = VT_I4;
    out->lVal = static_cast<LONG>(x);
    return;
  }
  if (PyFloat_Check(o)) {
    out->vt = VT_R8;
    out->dblVal = PyFloat_AsDouble(o);
    return;
  }
  if (PyUnicode_Check(o)) {
    out->bstrVal = BstrFromStr(value);
    out->vt = VT_BSTR;
    return;
  }
  if (py::isinstance<Dispatch>(value)) {
    IDispatch* p = value.cast<Dispatch&>().Pointer();
    p->AddRef();
    out->vt = VT_DISPATCH;
    out->pdispVal = p;
    return;
  }
  throw py::type_error("argument " + std::to_string(position) + ": cannot pass a " +
                       std::string(Py_TYPE(o)->tp_name) + " to an automation call");
}

py::object FromVariant(const VARIANT& value) {
  com::Variant indirect;
  const VARIANT* v = &value;
  if (value.vt & VT_BYREF) {
    HRESULT hr = VariantCopyInd(&indirect, &value);
    if (FAILED(hr)) throw AutomationFailure("cannot read a by-reference result", hr);
    v = &indirect;
  }
  switch (v->vt) {
    case VT_EMPTY:
    case VT_NULL:
      return py::none();
    case VT_I1:
      return py::int_(static_cast<signed char>(v->bVal));
    case VT_UI1:
      return py::int_(v->bVal);
    case VT_I2:
      return py::int_(v->iVal);
    case VT_UI2:
      return py::int_(static_cast<USHORT>(v->iVal));
    case VT_I4:
      return py::int_(v->lVal);
    case VT_UI4:
      return py::int_(static_cast<ULONG>(v->lVal));
    case VT_INT:
      return py::int_(v->intVal);
    case VT_UINT:
      return py::int_(v->uintVal);
    case VT_I8:
      return py::int_(v->llVal);
    case VT_UI8:
      return py::int_(static_cast<ULONGLONG>(v->llVal));
    case VT_R4:
      return py::float_(v->fltVal);
    case VT_R8:
      return py::float_(v->dblVal);
    case VT_BOOL:
      return py::bool_(v->boolVal != 0);
    case VT_BSTR:
      return StrFromBstr(v->bstrVal);
    case VT_DISPATCH:
      return WrapDispatch(v->pdispVal);
    case VT_UNKNOWN:
      return WrapUnknown(v->punkVal);
    case VT_ERROR:
      return py::int_(static_cast<std::uint32_t>(v->scode));
    default:
      throw py::type_error("cannot convert an automation value of type " + std::to_string(v->vt) +
                           " to Python");
  }
}

// ---- Dispatch ----

Dispatch::Dispatch(com::ComPtr<IDispatch> dispatch) : dispatch_(std::move(dispatch)) {}

std::unique_ptr<Dispatch> Dispatch::Create(const std::string& progIdOrClsid) {
  if (g_shutDown) ThrowRuntime("mailquarry has shut down with the interpreter");
  CLSID clsid;
  HRESULT hr = com::ClsidFromProgId(progIdOrClsid, &clsid);
  if (FAILED(hr))
    throw AutomationFailure(
        "no class '" + progIdOrClsid + "': " + HResultText(hr) + " (" + Hex(hr) + ")", hr);
  com::ComPtr<IDispatch> dispatch;
  hr = com::CreateInstance(clsid, &dispatch);
  if (FAILED(hr) || !dispatch)
    throw AutomationFailure(
        "cannot create '" + progIdOrClsid + "': " + HResultText(hr) + " (" + Hex(hr) + ")",
        FAILED(hr) ? hr : E_NOINTERFACE);
  return std::make_unique<Dispatch>(std::move(dispatch));
}

const char* Dispatch::GoneReason() const {
  return "this object was released when the interpreter shut down";
}

IDispatch* Dispatch::Ptr() {
  CheckThread();
  if (!dispatch_) ThrowRuntime(GoneReason());
  return dispatch_.Get();
}

void Dispatch::Shutdown() {
  shutDown_ = true;
  dispatch_.Reset();
}

TypeCache& Dispatch::Type() {
  if (type_) return *type_;
  IDispatch* d = Ptr();
  auto fresh = std::make_shared<TypeCache>();
  UINT count = 0;
  com::ComPtr<ITypeInfo> info;
  if (SUCCEEDED(d->GetTypeInfoCount(&count)) && count > 0 &&
      SUCCEEDED(d->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.ReleaseAndGetAddressOf())) && info) {
    TYPEATTR* attr = nullptr;
    if (SUCCEEDED(info->GetTypeAttr(&attr)) && attr) {
      GUID guid = attr->guid;
      WORD functions = attr->cFuncs;
      info->ReleaseTypeAttr(attr);
      std::string key = com::GuidToString(guid);
      if (!(guid == GUID_NULL)) {
        auto found = TypeCaches().find(key);
        if (found != TypeCaches().end()) {
          type_ = found->second;
          return *type_;
        }
      }
      BSTR name = nullptr;
      if (SUCCEEDED(info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr)))
        fresh->name = com::Utf8FromBstr(name);
      SysFreeString(name);
      for (UINT i = 0; i < functions; ++i) {
        FUNCDESC* desc = nullptr;
        if (FAILED(info->GetFuncDesc(i, &desc)) || !desc) continue;
        MemberInfo& member = fresh->members[desc->memid];
        switch (desc->invkind) {
          case INVOKE_FUNC:
            member.method = true;
            break;
          case INVOKE_PROPERTYGET:
            member.get = true;
            // Optional parameters do not make a property something to call.
            member.getParams = desc->cParams - std::max<SHORT>(desc->cParamsOpt, 0);
            break;
          case INVOKE_PROPERTYPUT:
            member.put = true;
            break;
          case INVOKE_PROPERTYPUTREF:
            member.putRef = true;
            break;
        }
        if (desc->wFuncFlags & (FUNCFLAG_FRESTRICTED | FUNCFLAG_FHIDDEN)) member.hidden = true;
        if (member.name.empty()) {
          BSTR memberName = nullptr;
          if (SUCCEEDED(
                  info->GetDocumentation(desc->memid, &memberName, nullptr, nullptr, nullptr)))
            member.name = com::Utf8FromBstr(memberName);
          SysFreeString(memberName);
        }
        info->ReleaseFuncDesc(desc);
      }
      fresh->described = true;
      if (!(guid == GUID_NULL)) TypeCaches()[key] = fresh;
    }
  }
  type_ = std::move(fresh);
  return *type_;
}

DISPID Dispatch::Resolve(const std::string& name) {
  TypeCache& type = Type();
  std::string key = Fold(name);
  auto found = type.ids.find(key);
  DISPID id = DISPID_UNKNOWN;
  if (found != type.ids.end()) {
    id = found->second;
  } else {
    std::u16string wide = com::Utf8ToUtf16(name);
    LPOLESTR names[] = {wide.data()};
    HRESULT hr = Ptr()->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (hr == DISP_E_UNKNOWNNAME || hr == DISP_E_MEMBERNOTFOUND) {
      id = DISPID_UNKNOWN;
    } else if (FAILED(hr)) {
      throw AutomationFailure(
          "cannot look up '" + name + "': " + HResultText(hr) + " (" + Hex(hr) + ")", hr);
    }
    type.ids[key] = id;
  }
  if (id == DISPID_UNKNOWN) {
    std::string owner = type.name.empty() ? "automation object" : "'" + type.name + "'";
    throw py::attribute_error(owner + " has no member '" + name + "'");
  }
  return id;
}

std::string Dispatch::Describe(DISPID id, const std::string& fallback) {
  const TypeCache& type = Type();
  auto found = type.members.find(id);
  std::string member =
      found != type.members.end() && !found->second.name.empty() ? found->second.name : fallback;
  return type.name.empty() ? member : type.name + "." + member;
}

py::object Dispatch::Call(DISPID id, WORD flags, const py::args* args, py::handle putValue,
                          const std::string& member, HRESULT* failure) {
  // A reference of our own for the call: converting the arguments may run
  // Python code that lets go of this wrapper's.
  com::ComPtr<IDispatch> d(Ptr());
  const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
  const std::size_t positional = args ? args->size() : 0;
  const std::size_t total = positional + (put ? 1 : 0);
  ArgumentArray rg(total);
  for (std::size_t i = 0; i < positional; ++i) ToVariant((*args)[i], &rg.items[total - 1 - i], i);
  if (put) ToVariant(putValue, &rg.items[0], positional);
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{rg.items.data(), put ? &named : nullptr, static_cast<UINT>(total),
                    put ? 1u : 0u};
  com::Variant result;
  ExcepInfoHolder excep;
  UINT argErr = UINT_MAX;
  HRESULT hr = d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, put ? nullptr : &result,
                         &excep.info, &argErr);
  if (SUCCEEDED(hr)) return put ? py::none() : FromVariant(result);
  if (failure) {
    *failure = hr;
    return py::none();
  }
  SCODE scode = 0;
  std::string description;
  if (hr == DISP_E_EXCEPTION) {
    if (excep.info.pfnDeferredFillIn) excep.info.pfnDeferredFillIn(&excep.info);
    scode = excep.info.scode != 0 ? excep.info.scode : excep.info.wCode;
    description = com::Utf8FromBstr(excep.info.bstrDescription);
  }
  std::optional<std::size_t> index;
  if (NamesArgument(hr) && argErr < total)
    index = put && argErr == 0 ? positional : total - 1 - argErr;
  std::string message = Describe(id, member) + ": ";
  message += description.empty() ? HResultText(hr) : description;
  if (index) message += " (argument " + std::to_string(*index) + ")";
  message += " [" + Hex(hr);
  if (scode != 0) message += ", scode " + Hex(scode);
  message += "]";
  throw AutomationFailure(message, hr, scode, description, index);
}

py::object Dispatch::Invoke(DISPID id, WORD flags, const py::args& args,
                            const std::string& member) {
  return Call(id, flags, &args, py::handle(), member, nullptr);
}

py::object Dispatch::GetAttr(py::object self, const std::string& name) {
  // Python's own protocol names are never automation members.
  if (name.size() > 1 && name[0] == '_' && name[1] == '_')
    throw py::attribute_error("no attribute '" + name + "'");
  Ptr();
  DISPID id = Resolve(name);
  const TypeCache& type = Type();
  auto found = type.members.find(id);
  if (found != type.members.end()) {
    const MemberInfo& m = found->second;
    const std::string& declared = m.name.empty() ? name : m.name;
    if (m.get && m.getParams == 0)
      return Call(id, DISPATCH_PROPERTYGET, nullptr, {}, name, nullptr);
    if (m.get)
      return py::cast(BoundMember(self, id, DISPATCH_PROPERTYGET | (m.method ? DISPATCH_METHOD : 0),
                                  Describe(id, declared)));
    if (m.method) return py::cast(BoundMember(self, id, DISPATCH_METHOD, Describe(id, declared)));
    throw py::attribute_error("'" + Describe(id, declared) + "' can only be written");
  }
  // Nothing in the type information: read it as a property when that works,
  // else hand out something to call.
  HRESULT failure = S_OK;
  py::object value = Call(id, DISPATCH_PROPERTYGET, nullptr, {}, name, &failure);
  if (SUCCEEDED(failure)) return value;
  if (failure == DISP_E_MEMBERNOTFOUND || failure == DISP_E_BADPARAMCOUNT ||
      failure == DISP_E_PARAMNOTOPTIONAL)
    return py::cast(
        BoundMember(self, id, DISPATCH_METHOD | DISPATCH_PROPERTYGET, Describe(id, name)));
  return Call(id, DISPATCH_PROPERTYGET, nullptr, {}, name, nullptr);  // raises
}

void Dispatch::SetAttr(const std::string& name, py::handle value) {
  if (name.size() > 1 && name[0] == '_' && name[1] == '_')
    throw py::attribute_error("cannot set '" + name + "' on an automation object");
  Ptr();
  DISPID id = Resolve(name);
  const TypeCache& type = Type();
  WORD flags = DISPATCH_PROPERTYPUT;
  auto found = type.members.find(id);
  if (found != type.members.end()) {
    const MemberInfo& m = found->second;
    if (!m.put && !m.putRef)
      throw py::attribute_error("'" + Describe(id, name) + "' cannot be written");
    if (m.putRef && (!m.put || py::isinstance<Dispatch>(value))) flags = DISPATCH_PROPERTYPUTREF;
  }
  Call(id, flags, nullptr, value, name, nullptr);
}

py::object Dispatch::Iterate() {
  Ptr();
  HRESULT failure = S_OK;
  py::object e = Call(DISPID_NEWENUM, DISPATCH_METHOD | DISPATCH_PROPERTYGET, nullptr, {},
                      "_NewEnum", &failure);
  if (failure == DISP_E_MEMBERNOTFOUND || failure == DISP_E_UNKNOWNNAME) {
    const TypeCache& type = Type();
    throw py::type_error("'" + (type.name.empty() ? std::string("automation object") : type.name) +
                         "' is not iterable (it has no _NewEnum)");
  }
  if (FAILED(failure))
    Call(DISPID_NEWENUM, DISPATCH_METHOD | DISPATCH_PROPERTYGET, nullptr, {}, "_NewEnum",
         nullptr);  // raises
  if (!py::isinstance<Enumerator>(e)) throw py::type_error("_NewEnum did not answer an enumerator");
  return e;
}

std::size_t Dispatch::Length() {
  py::object e = Iterate();
  com::ComPtr<IEnumVARIANT> position(e.cast<Enumerator&>().Pointer());
  // Strides that halve on the way to the end: a few skips over the whole
  // collection, without fetching an item.
  constexpr ULONG kFirstStride = 1u << 16;
  std::size_t count = 0;
  for (ULONG stride = kFirstStride; stride > 0;) {
    com::ComPtr<IEnumVARIANT> probe;
    HRESULT hr = position->Clone(probe.ReleaseAndGetAddressOf());
    if (SUCCEEDED(hr) && probe) hr = probe->Skip(stride);
    if (SUCCEEDED(hr) && !probe) hr = E_POINTER;
    if (FAILED(hr))
      throw AutomationFailure(std::string("enumerator: ") + HResultText(hr) + " [" + Hex(hr) + "]",
                              hr);
    if (hr == S_OK) {
      position = probe;
      count += stride;
    } else {
      stride /= 2;
    }
  }
  return count;
}

std::string Dispatch::Repr() {
  std::string text = std::string("<mailquarry.") + ClassName();
  if (!dispatch_) {
    text += shutDown_ ? " (released)" : " (closed)";
  } else if (OnOwnerThread()) {
    try {
      const TypeCache& type = Type();
      if (!type.name.empty()) text += " " + type.name;
    } catch (const std::exception&) {
      // repr never fails; the name is only a courtesy
    }
  } else if (type_ && !type_->name.empty()) {
    text += " " + type_->name;
  }
  return text + ">";
}

py::list Dispatch::Dir() {
  py::list names;
  Ptr();
  const TypeCache& type = Type();
  std::vector<std::string> sorted;
  for (const auto& [id, member] : type.members)
    if (!member.hidden && !member.name.empty()) sorted.push_back(member.name);
  std::sort(sorted.begin(), sorted.end());
  for (const std::string& name : sorted) names.append(name);
  return names;
}

IUnknown* Dispatch::Identity() {
  com::ComPtr<IUnknown> unknown;
  if (FAILED(Ptr()->QueryInterface(IID_IUnknown, unknown.ReleaseAndGetVoidAddress())))
    return dispatch_.Get();
  return unknown.Get();  // the object keeps its identity alive while we hold dispatch_
}

bool Dispatch::SameObject(Dispatch& other) {
  return Identity() == other.Identity();
}

std::size_t Dispatch::Hash() {
  return std::hash<const void*>()(Identity());
}

// ---- Control ----

Control::Control(com::ComPtr<IDispatch> dispatch, std::unique_ptr<ui::ControlHost> host)
    : Dispatch(std::move(dispatch)), host_(std::move(host)) {}

Control::~Control() {
  Close();
}

std::unique_ptr<Control> Control::Create(const std::string& progIdOrClsid, bool userMode) {
  if (g_shutDown) ThrowRuntime("mailquarry has shut down with the interpreter");
  CLSID clsid;
  HRESULT hr = com::ClsidFromProgId(progIdOrClsid, &clsid);
  if (FAILED(hr))
    throw AutomationFailure(
        "no class '" + progIdOrClsid + "': " + HResultText(hr) + " (" + Hex(hr) + ")", hr);
  auto host = std::make_unique<ui::ControlHost>(userMode);
  hr = host->Create(clsid);
  if (SUCCEEDED(hr)) hr = host->Activate(nullptr, ui::Rect::FromSize(0, 0, 120, 40));
  com::ComPtr<IDispatch> dispatch = SUCCEEDED(hr) ? host->Dispatch() : nullptr;
  if (FAILED(hr) || !dispatch) {
    host->Close();
    throw AutomationFailure("cannot host the control '" + progIdOrClsid + "': " + HResultText(hr) +
                                " (" + Hex(hr) + ")",
                            FAILED(hr) ? hr : E_NOINTERFACE);
  }
  return std::make_unique<Control>(std::move(dispatch), std::move(host));
}

void Control::Close() {
  if (!host_) return;
  // Our reference goes before the window, as a container lets go of a
  // control: the host then destroys the window and releases the last one.
  dispatch_.Reset();
  std::unique_ptr<ui::ControlHost> host = std::move(host_);
  host->Close();
}

void Control::Shutdown() {
  shutDown_ = true;
  Close();
}

const char* Control::GoneReason() const {
  return shutDown_ ? "this control was closed when the interpreter shut down"
                   : "this control is closed";
}

// ---- BoundMember ----

py::object BoundMember::Call(const py::args& args) {
  return owner_.cast<Dispatch&>().Invoke(id_, flags_, args, name_);
}

std::string BoundMember::Repr() const {
  return "<mailquarry.Method " + name_ + ">";
}

// ---- Enumerator ----

IEnumVARIANT* Enumerator::Ptr() {
  CheckThread();
  if (!enum_) ThrowRuntime("this enumerator was released when the interpreter shut down");
  return enum_.Get();
}

py::object Enumerator::Next() {
  com::ComPtr<IEnumVARIANT> e(Ptr());
  com::Variant item;
  ULONG fetched = 0;
  HRESULT hr = e->Next(1, &item, &fetched);
  if (FAILED(hr))
    throw AutomationFailure(std::string("enumerator: ") + HResultText(hr) + " [" + Hex(hr) + "]",
                            hr);
  if (hr == S_FALSE || fetched == 0) throw py::stop_iteration();
  return FromVariant(item);
}

bool Enumerator::Skip(unsigned long count) {
  HRESULT hr = Ptr()->Skip(static_cast<ULONG>(count));
  if (FAILED(hr))
    throw AutomationFailure(std::string("enumerator: ") + HResultText(hr) + " [" + Hex(hr) + "]",
                            hr);
  return hr == S_OK;
}

void Enumerator::Reset() {
  HRESULT hr = Ptr()->Reset();
  if (FAILED(hr))
    throw AutomationFailure(std::string("enumerator: ") + HResultText(hr) + " [" + Hex(hr) + "]",
                            hr);
}

std::unique_ptr<Enumerator> Enumerator::Clone() {
  com::ComPtr<IEnumVARIANT> copy;
  HRESULT hr = Ptr()->Clone(copy.ReleaseAndGetAddressOf());
  if (FAILED(hr) || !copy)
    throw AutomationFailure(std::string("enumerator: ") + HResultText(hr) + " [" + Hex(hr) + "]",
                            FAILED(hr) ? hr : E_POINTER);
  return std::make_unique<Enumerator>(std::move(copy));
}

}  // namespace mqpy
