// SPDX-License-Identifier: LGPL-2.1-or-later
// The fake address-book module (see fake_wab.h).
#include "control/contacts/testing/fake_wab.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

namespace mq::testing {
namespace {

FakeWab g_wab;

// A buffer of the allocator starts after a header that holds what
// AllocateMore hung on it. A buffer never freed is a leak to LeakSanitizer,
// one freed twice or a child freed as a buffer a bad access to
// AddressSanitizer, as with any other memory.
struct alignas(std::max_align_t) Header {
  std::vector<void*> children;
};

void* AllocateRoot(ULONG size) {
  return new (std::calloc(1, sizeof(Header) + size)) Header + 1;
}

HRESULT AllocateChild(ULONG size, void* parent, void** out) {
  *out = std::calloc(1, size ? size : 1);
  (static_cast<Header*>(parent) - 1)->children.push_back(*out);
  return S_OK;
}

void FreeRoot(void* buffer) {
  if (!buffer) return;
  Header* header = static_cast<Header*>(buffer) - 1;
  for (void* child : header->children) std::free(child);
  header->~Header();
  std::free(header);
}

// Copies text or bytes into a buffer hung on `parent`.
char* CopyMore(const std::string& text, void* parent) {
  void* copy = nullptr;
  AllocateChild(static_cast<ULONG>(text.size() + 1), parent, &copy);
  if (copy) std::memcpy(copy, text.data(), text.size());
  return static_cast<char*>(copy);
}

void Fill(SPropValue& value, const FakeProperty& property, void* parent) {
  value.ulPropTag = property.tag;
  switch (PROP_TYPE(property.tag)) {
    case PT_STRING8:
    case PT_UNICODE:
      value.Value.lpszA = CopyMore(property.text, parent);
      break;
    case PT_BINARY:
      value.Value.bin.cb = static_cast<ULONG>(property.text.size());
      value.Value.bin.lpb = reinterpret_cast<BYTE*>(CopyMore(property.text, parent));
      break;
    default:
      value.Value.l = property.number;
  }
}

std::string Text(const std::vector<BYTE>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

FakeEntry* FindEntry(ULONG length, const void* id) {
  for (FakeEntry& entry : g_wab.entries)
    if (entry.id.size() == length && (length == 0 || std::memcmp(entry.id.data(), id, length) == 0))
      return &entry;
  return nullptr;
}

// The property members a fake does not serve.
template <class I>
class NoProps : public com::Object<I> {
 public:
  HRESULT SaveChanges(ULONG) override { return MAPI_E_NO_SUPPORT; }
  HRESULT GetProps(LPSPropTagArray, ULONG, ULONG*, LPSPropValue*) override {
    return MAPI_E_NO_SUPPORT;
  }
  HRESULT SetProps(ULONG, LPSPropValue, LPSPropProblemArray*) override { return MAPI_E_NO_SUPPORT; }
};

// Hands out a property array built from `properties`.
HRESULT GiveProperties(const std::vector<FakeProperty>& properties, ULONG* count,
                       LPSPropValue* out) {
  void* buffer = AllocateRoot(static_cast<ULONG>(sizeof(SPropValue) * (properties.size() + 1)));
  auto* values = static_cast<LPSPropValue>(buffer);
  for (std::size_t i = 0; i < properties.size(); ++i) Fill(values[i], properties[i], buffer);
  *count = static_cast<ULONG>(properties.size());
  *out = values;
  return S_OK;
}

class FakeMailUser : public NoProps<IMailUser> {
 public:
  explicit FakeMailUser(std::vector<FakeProperty> properties)
      : properties_(std::move(properties)) {}
  HRESULT GetProps(LPSPropTagArray, ULONG, ULONG* count, LPSPropValue* out) override {
    *count = 0;
    *out = nullptr;
    if (HRESULT hr = g_wab.Count("GetProps"); FAILED(hr)) return hr;
    return GiveProperties(properties_, count, out);
  }

 private:
  std::vector<FakeProperty> properties_;
};

class FakeNewEntry : public NoProps<IMAPIProp> {
 public:
  explicit FakeNewEntry(std::size_t index) : index_(index) {}
  HRESULT SaveChanges(ULONG) override {
    g_wab.created[index_].saved = true;
    return S_OK;
  }
  HRESULT SetProps(ULONG count, LPSPropValue, LPSPropProblemArray*) override {
    g_wab.created[index_].written += static_cast<int>(count);
    return g_wab.Count("SetProps");
  }

 private:
  std::size_t index_;
};

class FakeTable : public com::Object<IMAPITable> {
 public:
  HRESULT SetColumns(LPSPropTagArray tags, ULONG) override {
    if (tags) columns_.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
    return S_OK;
  }
  HRESULT SeekRow(BOOKMARK origin, LONG, LONG*) override {
    if (origin == BOOKMARK_BEGINNING) position_ = 0;
    return S_OK;
  }
  HRESULT QueryRows(LONG count, ULONG, LPSRowSet* out) override {
    *out = nullptr;
    if (HRESULT hr = g_wab.Count("QueryRows"); FAILED(hr)) return hr;
    auto* set = static_cast<LPSRowSet>(AllocateRoot(SRowSetSize(1)));
    set->cRows = 0;
    if (count > 0 && position_ < g_wab.entries.size()) {
      const FakeEntry& entry = g_wab.entries[position_++];
      std::vector<FakeProperty> row;
      for (ULONG tag : columns_) {
        if (tag == PR_DISPLAY_NAME)
          row.push_back({tag, entry.tableName, 0});
        else if (tag == PR_ENTRYID)
          row.push_back({tag, Text(entry.id), 0});
        else if (tag == PR_OBJECT_TYPE)
          row.push_back({tag, "", static_cast<LONG>(entry.objectType)});
        else
          row.push_back({CHANGE_PROP_TYPE(tag, PT_ERROR), "", MAPI_E_NOT_FOUND});
      }
      set->cRows = 1;
      GiveProperties(row, &set->aRow[0].cValues, &set->aRow[0].lpProps);
    }
    *out = set;
    return S_OK;
  }

 private:
  std::vector<ULONG> columns_;
  std::size_t position_ = 0;
};

class FakeContainer : public NoProps<IABContainer> {
 public:
  HRESULT GetProps(LPSPropTagArray, ULONG, ULONG* count, LPSPropValue* out) override {
    *count = 0;
    *out = nullptr;
    if (HRESULT hr = g_wab.Count("ContainerGetProps"); FAILED(hr)) return hr;
    return GiveProperties({{g_wab.templateTags[0], Text(g_wab.mailUserTemplate), 0},
                           {g_wab.templateTags[1], Text(g_wab.distListTemplate), 0}},
                          count, out);
  }
  HRESULT GetContentsTable(ULONG, IMAPITable** out) override {
    *out = nullptr;
    *out = com::MakeObject<FakeTable>().Detach();
    return S_OK;
  }
  HRESULT CreateEntry(ULONG, LPENTRYID, ULONG, IMAPIProp** out) override {
    *out = nullptr;
    if (HRESULT hr = g_wab.Count("CreateEntry"); FAILED(hr)) return hr;
    g_wab.created.emplace_back();
    *out = com::MakeObject<FakeNewEntry>(g_wab.created.size() - 1).Detach();
    return S_OK;
  }
  HRESULT DeleteEntries(LPENTRYLIST, ULONG) override { return MAPI_E_NO_SUPPORT; }
};

class FakeAddrBook : public NoProps<IAddrBook> {
 public:
  HRESULT OpenEntry(ULONG length, LPENTRYID id, const IID*, ULONG, ULONG* type,
                    IUnknown** out) override {
    const bool pab =
        length == g_wab.pabId.size() && std::memcmp(id, g_wab.pabId.data(), length) == 0;
    *out = nullptr;
    // A success code other than S_OK comes back with the object.
    const HRESULT hr = g_wab.Count(pab ? "OpenPAB" : "OpenEntry");
    if (FAILED(hr)) return hr;
    if (pab) {
      *type = MAPI_ABCONT;
      *out = static_cast<IABContainer*>(com::MakeObject<FakeContainer>().Detach());
      return hr;
    }
    const FakeEntry* entry = FindEntry(length, id);
    if (!entry) return MAPI_E_NOT_FOUND;
    *type = entry->objectType;
    *out = static_cast<IMailUser*>(com::MakeObject<FakeMailUser>(entry->properties).Detach());
    return S_OK;
  }
  HRESULT NewEntry(ULONG_PTR, ULONG, ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG* newLength,
                   LPENTRYID* newId) override {
    *newLength = 0;
    *newId = nullptr;
    if (HRESULT hr = g_wab.Count("NewEntry"); FAILED(hr)) return hr;
    *newId = static_cast<LPENTRYID>(AllocateRoot(2));
    *newLength = 2;
    return S_OK;
  }
  HRESULT Details(ULONG_PTR*, LPFNDISMISS, void*, ULONG, LPENTRYID, LPFNBUTTON, void*, LPSTR,
                  ULONG) override {
    return MAPI_E_NO_SUPPORT;
  }
  HRESULT GetPAB(ULONG* length, LPENTRYID* id) override {
    *length = 0;
    *id = nullptr;
    if (HRESULT hr = g_wab.Count("GetPAB"); FAILED(hr)) return hr;
    void* buffer = AllocateRoot(static_cast<ULONG>(g_wab.pabId.size()));
    std::memcpy(buffer, g_wab.pabId.data(), g_wab.pabId.size());
    *id = static_cast<LPENTRYID>(buffer);
    *length = static_cast<ULONG>(g_wab.pabId.size());
    return S_OK;
  }
};

class FakeWabObject : public com::Object<IWABObject> {
 public:
  HRESULT AllocateBuffer(ULONG size, void** out) override {
    *out = nullptr;
    if (HRESULT hr = g_wab.Count("AllocateBuffer"); FAILED(hr)) return hr;
    *out = AllocateRoot(size);
    return S_OK;
  }
  HRESULT AllocateMore(ULONG size, void* parent, void** out) override {
    *out = nullptr;
    return AllocateChild(size, parent, out);
  }
  ULONG FreeBuffer(void* buffer) override {
    FreeRoot(buffer);
    return 0;
  }
};

}  // namespace
}  // namespace mq::testing

using mq::testing::g_wab;

COM_EXPORT mq::testing::FakeWab* FakeWabState() {
  return &g_wab;
}

COM_EXPORT HRESULT WABOpen(IAddrBook** book, IWABObject** wab, WAB_PARAM*, DWORD) {
  *book = nullptr;
  *wab = nullptr;
  if (g_wab.openResult != S_OK) return g_wab.openResult;
  *book = com::MakeObject<mq::testing::FakeAddrBook>().Detach();
  *wab = com::MakeObject<mq::testing::FakeWabObject>().Detach();
  return S_OK;
}
