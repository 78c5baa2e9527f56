// SPDX-License-Identifier: LGPL-2.1-or-later
// A fake address-book module for the connection's tests: it exports WABOpen
// like the real library, serves an in-memory personal address book, logs the
// calls whose arguments a test checks, counts the buffers of its allocator
// and the interfaces it handed out, and fails the operations a test names.
//
// A test loads the module itself (dlopen of its path, which the connection's
// own load then shares) and reaches its state through FakeWabState(); the
// state is plain data, so both sides use it through this header alone.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/wab/wab.h"

namespace mq::testing {

struct FakeProperty {
  ULONG tag = 0;
  std::string text;  // PT_STRING8, PT_UNICODE (as bytes), PT_BINARY
  LONG number = 0;   // PT_LONG, PT_ERROR
};

struct FakeEntry {
  std::vector<BYTE> id;
  ULONG objectType = MAPI_MAILUSER;
  std::string tableName;  // the contents table's PR_DISPLAY_NAME column
  std::vector<FakeProperty> properties;
};

struct FakeWab {
  // ---- The book ----
  std::vector<FakeEntry> entries;
  std::vector<BYTE> pabId = {'P', 'A', 'B'};
  std::vector<BYTE> mailUserTemplate = {'T', 'M'};
  std::vector<BYTE> distListTemplate = {'T', 'D'};
  // The two template values come back with these tags.
  ULONG templateTags[2] = {PR_DEF_CREATE_MAILUSER, PR_DEF_CREATE_DL};
  HRESULT openResult = S_OK;  // what WABOpen answers
  // Operation name -> {calls that succeed first, then the answer}.
  struct Failure {
    int after = 0;
    HRESULT hr = E_FAIL;
  };
  std::map<std::string, Failure> failures;

  // ---- What happened ----
  std::vector<std::string> calls;  // WABOpen, CreateEntry, NewEntry
  std::map<std::string, int> counts;
  // Entries made through CreateEntry, with what SetProps wrote, in order.
  struct Created {
    std::vector<FakeProperty> written;
    bool saved = false;
  };
  std::vector<Created> created;
  int liveBuffers = 0;     // AllocateBuffer roots not yet freed
  int badFrees = 0;        // FreeBuffer of something that is no root
  int liveInterfaces = 0;  // interfaces handed out and not yet released

  void Fail(const std::string& operation, HRESULT hr = E_FAIL, int after = 0) {
    failures[operation] = {after, hr};
  }
  // Counts a call; the answer a failure set for it gives, else S_OK.
  HRESULT Count(const std::string& operation) {
    const int n = ++counts[operation];
    auto it = failures.find(operation);
    return it != failures.end() && n > it->second.after ? it->second.hr : S_OK;
  }
  void Reset() { *this = FakeWab(); }
};

inline constexpr const char* kFakeWabStateFunction = "FakeWabState";
using FakeWabStateFn = FakeWab* (*)();

// Lower-case hex of a byte string, for the call log.
inline std::string Hex(const void* bytes, ULONG length) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  const auto* p = static_cast<const BYTE*>(bytes);
  for (ULONG i = 0; p && i < length; ++i) {
    out += digits[p[i] >> 4];
    out += digits[p[i] & 15];
  }
  return out;
}

}  // namespace mq::testing
