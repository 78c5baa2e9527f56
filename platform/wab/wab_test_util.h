// SPDX-License-Identifier: LGPL-2.1-or-later
// Helpers for the address-book tests: a temporary book, the engine module
// loaded the way the connection loads it, and a reader that walks the
// contents table as the connection does.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/testing/scratch.h"
#include "platform/wab/wab.h"

namespace wabtest {

namespace fs = std::filesystem;

inline std::string BinDir() {
  const char* dir = std::getenv("MQ_BIN_DIR");
  return dir ? dir : ".";
}

// The module, loaded once for the whole test program.
inline LPWABOPEN WabOpenEntry() {
  static LPWABOPEN entry = [] {
    void* handle = dlopen((BinDir() + "/AddressBook.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return LPWABOPEN{};
    return reinterpret_cast<LPWABOPEN>(dlsym(handle, WAB_OPEN_ENTRY_POINT));
  }();
  return entry;
}

using mqtest::ReadFile;
using mqtest::TempDir;
using mqtest::WriteFile;

struct Row {
  std::string entryId;
  std::string name;
  ULONG objectType = 0;
  std::map<ULONG, std::string> props;  // PROP_ID → text (GetProps without a tag array)
  std::map<ULONG, ULONG> types;        // PROP_ID → property type
};

inline std::vector<std::string> Names(const std::vector<Row>& rows) {
  std::vector<std::string> names;
  for (const Row& row : rows) names.push_back(row.name);
  return names;
}

class Book {
 public:
  explicit Book(const std::string& location) {
    LPWABOPEN open = WabOpenEntry();
    if (!open) return;
    WAB_PARAM param{};
    param.cbSize = WAB_PARAM_SIZE;
    param.szFileName = const_cast<char*>(location.c_str());
    result = open(&ab, &wab, &param, 0);
  }
  ~Book() {
    if (ab) ab->Release();
    if (wab) wab->Release();
  }
  Book(const Book&) = delete;
  Book& operator=(const Book&) = delete;

  template <class I>
  HRESULT OpenEntry(ULONG cb, const void* id, com::ComPtr<I>* out) {
    ULONG type = 0;
    IUnknown* unknown = nullptr;
    HRESULT hr = ab->OpenEntry(cb, static_cast<LPENTRYID>(const_cast<void*>(id)), nullptr, 0, &type,
                               &unknown);
    if (FAILED(hr)) return hr;
    com::ComPtr<IUnknown> holder = com::ComPtr<IUnknown>::Attach(unknown);
    return holder.As(out);
  }

  com::ComPtr<IABContainer> Pab() {
    ULONG cb = 0;
    LPENTRYID id = nullptr;
    com::ComPtr<IABContainer> container;
    if (SUCCEEDED(ab->GetPAB(&cb, &id))) OpenEntry(cb, id, &container);
    wab->FreeBuffer(id);
    return container;
  }

  void FreeRows(LPSRowSet rows) {
    if (!rows) return;
    for (ULONG i = 0; i < rows->cRows; ++i) wab->FreeBuffer(rows->aRow[i].lpProps);
    wab->FreeBuffer(rows);
  }

  // Every row as the connection reads it: three columns, one row a call,
  // OpenEntry and GetProps of all properties for each.
  std::vector<Row> ReadAll(HRESULT* failure = nullptr) {
    std::vector<Row> out;
    auto fail = [&](HRESULT hr) {
      if (failure) *failure = hr;
      return out;
    };
    if (failure) *failure = S_OK;
    com::ComPtr<IABContainer> pab = Pab();
    if (!pab) return fail(E_FAIL);
    com::ComPtr<IMAPITable> table;
    HRESULT hr = pab->GetContentsTable(0, table.ReleaseAndGetAddressOf());
    if (FAILED(hr)) return fail(hr);
    SizedSPropTagArray<3> columns{3, {PR_ENTRYID, PR_DISPLAY_NAME, PR_OBJECT_TYPE}};
    if (FAILED(hr = table->SetColumns(columns.Get(), 0))) return fail(hr);
    if (FAILED(hr = table->SeekRow(BOOKMARK_BEGINNING, 0, nullptr))) return fail(hr);
    while (true) {
      LPSRowSet rows = nullptr;
      if (FAILED(hr = table->QueryRows(1, 0, &rows))) return fail(hr);
      if (!rows || rows->cRows == 0) {
        FreeRows(rows);
        break;
      }
      EXPECT_EQ(rows->cRows, 1u);
      EXPECT_EQ(rows->aRow[0].cValues, 3u);
      const SPropValue* v = rows->aRow[0].lpProps;
      Row row;
      EXPECT_EQ(v[0].ulPropTag, PR_ENTRYID);
      row.entryId.assign(reinterpret_cast<char*>(v[0].Value.bin.lpb), v[0].Value.bin.cb);
      EXPECT_EQ(v[1].ulPropTag, PR_DISPLAY_NAME);
      if (v[1].ulPropTag == PR_DISPLAY_NAME) row.name = v[1].Value.lpszA;
      EXPECT_EQ(v[2].ulPropTag, PR_OBJECT_TYPE);
      row.objectType = v[2].Value.ul;
      FreeRows(rows);
      ReadProps(row.entryId, &row);
      out.push_back(std::move(row));
    }
    return out;
  }

  HRESULT ReadProps(const std::string& entryId, Row* row) {
    com::ComPtr<IMailUser> user;
    HRESULT hr = OpenUser(entryId, &user);
    if (FAILED(hr)) return hr;
    ULONG count = 0;
    LPSPropValue values = nullptr;
    hr = user->GetProps(nullptr, 0, &count, &values);
    if (FAILED(hr)) return hr;
    for (ULONG i = 0; i < count; ++i) {
      ULONG tag = values[i].ulPropTag;
      row->types[PROP_ID(tag)] = PROP_TYPE(tag);
      if (PROP_TYPE(tag) == PT_STRING8) row->props[PROP_ID(tag)] = values[i].Value.lpszA;
    }
    wab->FreeBuffer(values);
    return S_OK;
  }

  HRESULT OpenUser(const std::string& entryId, com::ComPtr<IMailUser>* user) {
    return OpenEntry(static_cast<ULONG>(entryId.size()), entryId.data(), user);
  }

  // CreateEntry from the mail-user template, one SetProps per text, SaveChanges.
  HRESULT Create(const std::vector<std::pair<ULONG, std::string>>& texts,
                 std::string* entryId = nullptr) {
    com::ComPtr<IABContainer> pab = Pab();
    if (!pab) return E_FAIL;
    SizedSPropTagArray<2> tags{2, {PR_DEF_CREATE_MAILUSER, PR_DEF_CREATE_DL}};
    ULONG count = 0;
    LPSPropValue templates = nullptr;
    HRESULT hr = pab->GetProps(tags.Get(), 0, &count, &templates);
    if (FAILED(hr)) return hr;
    com::ComPtr<IMAPIProp> entry;
    hr = pab->CreateEntry(templates[0].Value.bin.cb,
                          reinterpret_cast<LPENTRYID>(templates[0].Value.bin.lpb), 0,
                          entry.ReleaseAndGetAddressOf());
    wab->FreeBuffer(templates);
    if (FAILED(hr)) return hr;
    for (const auto& [tag, text] : texts) {
      SPropValue value{};
      value.ulPropTag = tag;
      value.Value.lpszA = const_cast<char*>(text.c_str());
      entry->SetProps(1, &value, nullptr);
    }
    hr = entry->SaveChanges(0);
    if (SUCCEEDED(hr) && entryId) {
      SizedSPropTagArray<1> idTag{1, {PR_ENTRYID}};
      LPSPropValue id = nullptr;
      if (SUCCEEDED(entry->GetProps(idTag.Get(), 0, &count, &id)) && id[0].ulPropTag == PR_ENTRYID)
        entryId->assign(reinterpret_cast<char*>(id[0].Value.bin.lpb), id[0].Value.bin.cb);
      wab->FreeBuffer(id);
    }
    return hr;
  }

  HRESULT Delete(const std::string& entryId) {
    com::ComPtr<IABContainer> pab = Pab();
    if (!pab) return E_FAIL;
    SBinary bin{static_cast<ULONG>(entryId.size()),
                reinterpret_cast<BYTE*>(const_cast<char*>(entryId.data()))};
    ENTRYLIST list{1, &bin};
    return pab->DeleteEntries(&list, 0);
  }

  HRESULT result = E_FAIL;
  IAddrBook* ab = nullptr;
  IWABObject* wab = nullptr;
};

}  // namespace wabtest
