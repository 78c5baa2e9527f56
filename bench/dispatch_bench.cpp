// SPDX-License-Identifier: LGPL-2.1-or-later
// The dispatch engine's cost per call: IDispatch::Invoke by DISPID against a
// direct C++ call of the same member, on a dispinterface of 40 members, and
// the heap allocations a call makes (none beyond what its arguments need).
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "platform/com/dispatch_object.h"

static std::atomic<long> g_allocations{0};
void* operator new(std::size_t n) {
  ++g_allocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace {

using com::tlb::MemberKind;
constexpr IID kIid = com::Guid("{0B8C2E51-0000-4000-8000-0000000000B1}");

const com::tlb::Library& Library() {
  static const com::tlb::Library lib = [] {
    com::tlb::Library l{"BENCHLib", com::Guid("{0B8C2E51-0000-4000-8000-0000000000B0}"),
                        1,          0,
                        0,          SYS_WIN32,
                        0,          "",
                        "",         {},
                        {}};
    com::tlb::TypeInfo t{TKIND_DISPATCH, "IBench", kIid, TYPEFLAG_FDISPATCHABLE};
    t.members.push_back({1, "Count", MemberKind::PropertyGet, {VT_I2}});
    t.members.push_back({2, "Add", MemberKind::Method, {VT_I4}, {{"a", {VT_I4}}, {"b", {VT_I4}}}});
    static std::vector<std::string> names;
    for (int i = 0; i < 38; ++i) names.push_back("Filler" + std::to_string(i));
    for (int i = 0; i < 38; ++i)
      t.members.push_back({100 + i, names[i].c_str(), MemberKind::PropertyGet, {VT_I4}});
    l.types.push_back(t);
    return l;
  }();
  return lib;
}

class Bench : public com::DispatchObject<Bench> {
 public:
  Bench() : DispatchObject(Library(), kIid) {}
  virtual SHORT Count() { return 3; }
  virtual LONG Add(LONG a, LONG b) { return a + b; }
  LONG Filler() { return 0; }
  static const com::Bindings<Bench>& GetBindings() {
    static const auto bindings = [] {
      com::Bindings<Bench> b;
      b.Get<&Bench::Count>(1).Method<&Bench::Add>(2);
      for (int i = 0; i < 38; ++i) b.Get<&Bench::Filler>(100 + i);
      return b;
    }();
    return bindings;
  }
};

template <class F>
double NanosPerCall(long n, F f) {
  auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < n; ++i) f(i);
  auto end = std::chrono::steady_clock::now();
  return std::chrono::duration<double, std::nano>(end - start).count() / n;
}

}  // namespace

int main() {
  auto object = com::MakeObject<Bench>();
  IDispatch* d = object.Get();
  Bench* direct = object.Get();
  const long n = 2'000'000;
  volatile long sink = 0;
  com::Variant args[2] = {com::Variant::I4(1), com::Variant::I4(2)};
  com::Variant text[2] = {com::Variant::Str("1"), com::Variant::Str("2")};
  DISPPARAMS none{nullptr, nullptr, 0, 0}, two{args, nullptr, 2, 0}, twoText{text, nullptr, 2, 0};

  double baseline =
      NanosPerCall(n, [&](long i) { sink = sink + direct->Add(i, 1) + direct->Count(); });
  long before = g_allocations;
  double get = NanosPerCall(n, [&](long) {
    VARIANT r;
    d->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &r, nullptr, nullptr);
    sink = sink + r.iVal;
  });
  double method = NanosPerCall(n, [&](long) {
    VARIANT r;
    d->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &two, &r, nullptr, nullptr);
    sink = sink + r.lVal;
  });
  long allocations = g_allocations - before;
  double coerced = NanosPerCall(n, [&](long) {
    VARIANT r;
    d->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &twoText, &r, nullptr, nullptr);
    sink = sink + r.lVal;
  });
  std::printf("direct call (Add + Count):     %6.1f ns  1.0x\n", baseline);
  std::printf("Invoke property get (Count):   %6.1f ns  %.1fx\n", get, get / baseline);
  std::printf("Invoke method, 2 x VT_I4:      %6.1f ns  %.1fx\n", method, method / baseline);
  std::printf("Invoke method, 2 x BSTR->I4:   %6.1f ns  %.1fx\n", coerced, coerced / baseline);
  std::printf("heap allocations in %ld get and method calls: %ld\n", 2 * n, allocations);
  return allocations == 0 ? 0 : 1;
}
