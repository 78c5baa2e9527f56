// SPDX-License-Identifier: LGPL-2.1-or-later
// A fake address-book module for the connection's tests: it exports WABOpen
// like the real library, serves an in-memory personal address book, and
// fails the operations a test names. Buffers not freed and interfaces not
// released are leaks LeakSanitizer reports.
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
  std::map<std::string, int> counts;  // calls by operation name
  // Entries made through CreateEntry: how many values SetProps was given.
  struct Created {
    int written = 0;
    bool saved = false;
  };
  std::vector<Created> created;

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

}  // namespace mq::testing
