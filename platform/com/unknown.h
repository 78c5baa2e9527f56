// SPDX-License-Identifier: LGPL-2.1-or-later
// IUnknown, the smart pointer that holds interface references, and the base
// that implements reference counting and QueryInterface for our own objects.
#pragma once

#include <atomic>
#include <new>
#include <tuple>
#include <type_traits>
#include <utility>

#include "platform/com/guid.h"
#include "platform/com/hresult.h"

// Every interface names its own IID as `iid` and its parent as `Base`
// (the stand-in for __uuidof); the vtable slots stand in the standard order.
struct IUnknown {
  static constexpr IID iid = com::Guid("{00000000-0000-0000-C000-000000000046}");
  virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
};

constexpr IID IID_IUnknown = IUnknown::iid;

namespace com {

// Holds one reference to an interface; releases it when it goes.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes a new reference to `p`.
  explicit ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  ComPtr(const ComPtr<U>& other) : ComPtr(static_cast<T*>(other.Get())) {}
  ~ComPtr() { Reset(); }

  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }

  // Adopts a reference the caller already owns (no AddRef).
  static ComPtr Attach(T* p) {
    ComPtr result;
    result.p_ = p;
    return result;
  }
  // Gives up the reference without releasing it.
  T* Detach() { return std::exchange(p_, nullptr); }

  void Reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }

  // For out-parameters: releases what is held and returns the slot.
  T** ReleaseAndGetAddressOf() {
    Reset();
    return &p_;
  }
  void** ReleaseAndGetVoidAddress() { return reinterpret_cast<void**>(ReleaseAndGetAddressOf()); }

  // A new reference, for handing out through an out-parameter.
  T* CopyOut() const {
    if (p_) p_->AddRef();
    return p_;
  }

  template <class U>
  HRESULT As(ComPtr<U>* out) const {
    if (!p_) return E_POINTER;
    return p_->QueryInterface(U::iid, out->ReleaseAndGetVoidAddress());
  }

  friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.p_ == b.p_; }

 private:
  T* p_ = nullptr;
};

// Objects alive in this module and locks on its class factories; a module's
// DllCanUnloadNow answers S_OK only when this is zero. Each module links its
// own copy of the platform libraries, so the count is per module.
std::atomic<long>& ModuleLockCount();
inline void LockModule() {
  ++ModuleLockCount();
}
inline void UnlockModule() {
  --ModuleLockCount();
}

namespace detail {
template <class I, class = void>
struct BaseOf {
  using type = void;
};
template <class I>
struct BaseOf<I, std::void_t<typename I::Base>> {
  using type = typename I::Base;
};

// Finds `riid` among `I` and its ancestors.
template <class I, class Self>
void* FindInterface(Self* self, REFIID riid) {
  I* asI = static_cast<I*>(self);
  if (riid == I::iid) return asI;
  using B = typename BaseOf<I>::type;
  if constexpr (!std::is_void_v<B>) {
    if constexpr (!std::is_same_v<B, IUnknown>) {
      return FindInterface<B>(asI, riid);
    }
  }
  return nullptr;
}
}  // namespace detail

// Implements IUnknown for a class that implements the interfaces `Is...`.
// The first interface also answers for IUnknown (the object's identity).
// Objects count toward the module's lock count while alive.
template <class... Is>
class Object : public Is... {
 public:
  Object() { LockModule(); }
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    void* found = nullptr;
    if (riid == IUnknown::iid) {
      found = static_cast<IUnknown*>(static_cast<First*>(this));
    } else {
      ((found = found ? found : detail::FindInterface<Is>(this, riid)), ...);
    }
    if (!found) {
      found = QueryExtraInterface(riid);
      if (!found) return E_NOINTERFACE;
    }
    AddRef();
    *ppv = found;
    return S_OK;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  // The object's identity, the pointer QueryInterface(IID_IUnknown) answers.
  IUnknown* Identity() { return static_cast<IUnknown*>(static_cast<First*>(this)); }

 protected:
  virtual ~Object() { UnlockModule(); }
  // Lets a derived class answer for interfaces not in `Is...`.
  virtual void* QueryExtraInterface(REFIID) { return nullptr; }

 private:
  using First = std::tuple_element_t<0, std::tuple<Is...>>;
  std::atomic<ULONG> refs_{0};
};

// Creates `T`, holding its one reference.
template <class T, class... Args>
ComPtr<T> MakeObject(Args&&... args) {
  auto* raw = new (std::nothrow) T(std::forward<Args>(args)...);
  if (!raw) return nullptr;
  raw->AddRef();
  return ComPtr<T>::Attach(raw);
}

}  // namespace com
