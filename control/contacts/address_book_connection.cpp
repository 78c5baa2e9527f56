// SPDX-License-Identifier: LGPL-2.1-or-later
#include "control/contacts/address_book_connection.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>

#include "control/contacts/contacts.h"
#include "control/contacts/property_names.h"
#include "platform/registry/registry.h"

namespace mq {
namespace {

// The registered library path is read as into a buffer of this many bytes,
// its terminating NUL included; a longer path cannot be read.
constexpr std::size_t kLibraryPathBuffer = 260;

// The directory of the module this code is in (the control), or "".
std::string OwnDirectory() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&OwnDirectory), &info) || !info.dli_fname) return {};
  const std::string path = info.dli_fname;
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Loads a library as the platform's library loader does: a bare name is
// looked for first next to the module that asks for it, then along the
// system's search path; a path is taken as it is.
void* LoadLibrary(const std::string& name) {
  constexpr int kFlags = RTLD_NOW | RTLD_LOCAL;
  if (name.find('/') == std::string::npos) {
    const std::string directory = OwnDirectory();
    if (!directory.empty())
      if (void* handle = dlopen((directory + "/" + name).c_str(), kFlags)) return handle;
  }
  return dlopen(name.c_str(), kFlags);
}

// The library to load: the registered path, else the standard name.
std::string LibraryName() {
  std::string path;
  if (FAILED(reg::GetFilePath(reg::Root::LocalMachine, WAB_DLL_PATH_KEY, "", &path))) path.clear();
  path = path.substr(0, path.find('\0'));
  if (path.empty() || path.size() >= kLibraryPathBuffer) return WAB_DEFAULT_DLL_NAME;
  return path;
}

// Which CContact text each property fills, by the property's name.
struct NamedText {
  const char* name;
  ULONG tag;
  ContactText text;
};
#define MQ_LOADED(tag, field)      \
  NamedText {                      \
#tag, tag, &ContactData::field \
  }
constexpr NamedText kLoadedTexts[] = {
    MQ_LOADED(PR_EMAIL_ADDRESS, email),
    MQ_LOADED(PR_BUSINESS_TELEPHONE_NUMBER, businessPhone),
    MQ_LOADED(PR_HOME_TELEPHONE_NUMBER, homePhone),
    MQ_LOADED(PR_HOME_FAX_NUMBER, homeFax),
    MQ_LOADED(PR_BUSINESS_FAX_NUMBER, businessFax),
    MQ_LOADED(PR_PAGER_TELEPHONE_NUMBER, pager),
    MQ_LOADED(PR_CELLULAR_TELEPHONE_NUMBER, mobile),
    MQ_LOADED(PR_PERSONAL_HOME_PAGE, personalWebPage),
    MQ_LOADED(PR_TITLE, jobTitle),
    MQ_LOADED(PR_DEPARTMENT_NAME, department),
    MQ_LOADED(PR_OFFICE_LOCATION, office),
    MQ_LOADED(PR_COMPANY_NAME, companyName),
    MQ_LOADED(PR_BUSINESS_HOME_PAGE, businessWebPage),
};
#undef MQ_LOADED

// Which of kLoadedTexts each property identifier fills (kNone for none),
// found once: a property whose identifier goes by another name fills none.
// A table over every identifier, so a row's properties are matched without
// comparing each against every loaded text.
constexpr std::uint8_t kNone = 0xFF;
const std::array<std::uint8_t, 0x10000>& LoadedTextOfId() {
  static_assert(std::size(kLoadedTexts) < kNone);
  static const auto table = [] {
    auto out = std::make_unique<std::array<std::uint8_t, 0x10000>>();
    out->fill(kNone);
    for (std::size_t t = 0; t < std::size(kLoadedTexts); ++t) {
      const ULONG id = PROP_ID(kLoadedTexts[t].tag);
      if (std::strcmp(PropertyTagName(kLoadedTexts[t].tag), kLoadedTexts[t].name) == 0 &&
          (*out)[id] == kNone)
        (*out)[id] = static_cast<std::uint8_t>(t);
    }
    return out;
  }();
  return *table;
}

// The tags of the texts that LoadedTextOfId finds, for GetProps.
LPSPropTagArray LoadedTags() {
  static auto tags = [] {
    SizedSPropTagArray<std::size(kLoadedTexts)> out;
    out.cValues = 0;
    const auto& loadedTextOfId = LoadedTextOfId();
    for (std::size_t t = 0; t < std::size(kLoadedTexts); ++t)
      if (loadedTextOfId[PROP_ID(kLoadedTexts[t].tag)] == t)
        out.aulPropTag[out.cValues++] = kLoadedTexts[t].tag;
    return out;
  }();
  return tags.Get();
}

// A text value of a property array: only 8-bit strings are read as text.
const char* TextOf(const SPropValue& value, ULONG tag) {
  if (value.ulPropTag != tag || PROP_TYPE(tag) != PT_STRING8) return nullptr;
  return value.Value.lpszA;
}

}  // namespace

CAddressBookConnection::CAddressBookConnection(const std::string& path) {
  library_.reset(LoadLibrary(LibraryName()));
  if (!library_) return;
  entryPoint_ = reinterpret_cast<LPWABOPEN>(dlsym(library_.get(), WAB_OPEN_ENTRY_POINT));
  if (!entryPoint_) return;
  std::string fileName = path;
  WAB_PARAM param{};
  param.cbSize = WAB_PARAM_SIZE;
  param.szFileName = fileName.data();
  IAddrBook* book = nullptr;
  IWABObject* wab = nullptr;
  const HRESULT hr = entryPoint_(&book, &wab, &param, 0);
  // Whatever came back belongs to this connection, even from a refused open.
  addressBook_ = com::ComPtr<IAddrBook>::Attach(book);
  wabObject_ = com::ComPtr<IWABObject>::Attach(wab);
  opened_ = hr == S_OK && addressBook_ && wabObject_;
  if (!opened_) {
    addressBook_.Reset();
    wabObject_.Reset();
  }
}

CAddressBookConnection::~CAddressBookConnection() {
  selected_.reset();
  selectedLength_ = 0;
  if (opened_) {
    FreeLastRead();
    addressBook_.Reset();
    wabObject_.Reset();
  }
  // The library goes last (library_ is reset after this body), once nothing
  // of it is held any more.
}

void CAddressBookConnection::FreeBuffer(void* buffer) {
  if (buffer && wabObject_) wabObject_->FreeBuffer(buffer);
}

void CAddressBookConnection::FreeLastRead() {
  FreeBuffer(lastRead_);
  lastRead_ = nullptr;
  lastReadCount_ = 0;
}

HRESULT CAddressBookConnection::OpenPersonalAddressBook(com::ComPtr<IABContainer>* container) {
  ULONG length = 0;
  LPENTRYID id = nullptr;
  HRESULT hr = addressBook_->GetPAB(&length, &id);
  if (FAILED(hr)) {
    FreeBuffer(id);
    return hr;
  }
  ULONG type = 0;
  com::ComPtr<IUnknown> opened;
  hr = addressBook_->OpenEntry(length, id, nullptr, 0, &type, opened.ReleaseAndGetAddressOf());
  FreeBuffer(id);
  if (FAILED(hr)) return hr;
  if (!opened || FAILED(opened.As(container))) return MAPI_E_CALL_FAILED;
  return hr;
}

HRESULT CAddressBookConnection::LoadContacts(CContacts& contacts) {
  if (!opened_) return MAPI_E_NOT_INITIALIZED;
  com::ComPtr<IABContainer> container;
  HRESULT hr = OpenPersonalAddressBook(&container);
  if (FAILED(hr)) return hr;
  com::ComPtr<IMAPITable> table;
  hr = container->GetContentsTable(0, table.ReleaseAndGetAddressOf());
  if (FAILED(hr)) return hr;
  if (!table) return MAPI_E_CALL_FAILED;
  SizedSPropTagArray<3> columns;
  columns.aulPropTag[0] = PR_DISPLAY_NAME;
  columns.aulPropTag[1] = PR_ENTRYID;
  columns.aulPropTag[2] = PR_OBJECT_TYPE;
  hr = table->SetColumns(columns.Get(), 0);
  if (FAILED(hr)) return hr;
  hr = table->SeekRow(BOOKMARK_BEGINNING, 0, nullptr);
  if (FAILED(hr)) return hr;

  for (;;) {
    LPSRowSet rows = nullptr;
    hr = table->QueryRows(1, 0, &rows);
    if (FAILED(hr) || !rows || rows->cRows == 0) {
      FreeRows(rows);
      if (SUCCEEDED(hr)) hr = S_OK;
      break;
    }
    LoadRow(rows->aRow[0], contacts);
    FreeRows(rows);
  }
  return hr;
}

void CAddressBookConnection::LoadRow(const SRow& row, CContacts& contacts) {
  if (row.cValues < 3 || !row.lpProps) return;
  const SPropValue& nameColumn = row.lpProps[0];
  const SPropValue& idColumn = row.lpProps[1];
  const SPropValue& typeColumn = row.lpProps[2];
  if (typeColumn.ulPropTag != PR_OBJECT_TYPE || typeColumn.Value.ul != MAPI_MAILUSER) return;
  if (idColumn.ulPropTag != PR_ENTRYID) return;
  const SBinary& rowId = idColumn.Value.bin;
  if (rowId.cb > 0 && !rowId.lpb) return;

  // The contact keeps the identifier in memory of its own, so it never
  // depends on this connection or its library once handed out.
  ContactData data;
  data.entryId.assign(rowId.lpb, rowId.lpb + rowId.cb);

  ULONG type = 0;
  com::ComPtr<IUnknown> entry;
  com::ComPtr<IMailUser> user;
  const HRESULT opened = addressBook_->OpenEntry(rowId.cb, reinterpret_cast<LPENTRYID>(rowId.lpb),
                                                 nullptr, 0, &type, entry.ReleaseAndGetAddressOf());
  if (FAILED(opened) || !entry || FAILED(entry.As(&user))) return;
  entry.Reset();

  // Only the texts a contact keeps are asked for.
  FreeLastRead();
  ULONG count = 0;
  LPSPropValue properties = nullptr;
  if (SUCCEEDED(user->GetProps(LoadedTags(), 0, &count, &properties)) && properties) {
    lastRead_ = properties;
    lastReadCount_ = count;
  } else {
    FreeBuffer(properties);
  }
  user.Reset();

  if (const char* name = TextOf(nameColumn, PR_DISPLAY_NAME)) data.name = name;
  const auto& loadedTextOfId = LoadedTextOfId();
  for (ULONG i = 0; i < lastReadCount_; ++i) {
    const SPropValue& property = lastRead_[i];
    const std::uint8_t t = loadedTextOfId[PROP_ID(property.ulPropTag)];
    if (t == kNone) continue;
    if (const char* text = TextOf(property, property.ulPropTag)) data.*kLoadedTexts[t].text = text;
  }
  contacts.AddContact(std::move(data));
}

void CAddressBookConnection::FreeRows(LPSRowSet rows) {
  if (!rows) return;
  for (ULONG i = 0; i < rows->cRows; ++i) FreeBuffer(rows->aRow[i].lpProps);
  FreeBuffer(rows);
}

HRESULT CAddressBookConnection::DefaultTemplate(ULONG objectType, ULONG* length, LPENTRYID* id) {
  if (!length || !id) return MAPI_E_INVALID_PARAMETER;
  *length = 0;
  *id = nullptr;
  if (!opened_) return MAPI_E_NOT_INITIALIZED;
  com::ComPtr<IABContainer> container;
  HRESULT hr = OpenPersonalAddressBook(&container);
  if (FAILED(hr)) return hr;
  SizedSPropTagArray<2> tags;
  tags.aulPropTag[0] = PR_DEF_CREATE_MAILUSER;
  tags.aulPropTag[1] = PR_DEF_CREATE_DL;
  ULONG count = 0;
  LPSPropValue values = nullptr;
  hr = container->GetProps(tags.Get(), 0, &count, &values);
  if (SUCCEEDED(hr) && values && count >= 2 && values[0].ulPropTag == PR_DEF_CREATE_MAILUSER &&
      values[1].ulPropTag == PR_DEF_CREATE_DL) {
    const SBinary& chosen = objectType == MAPI_DISTLIST ? values[1].Value.bin : values[0].Value.bin;
    void* copy = nullptr;
    if (chosen.cb > 0 && chosen.lpb && SUCCEEDED(wabObject_->AllocateBuffer(chosen.cb, &copy)) &&
        copy) {
      std::memcpy(copy, chosen.lpb, chosen.cb);
      *id = static_cast<LPENTRYID>(copy);
      *length = chosen.cb;
    }
  }
  FreeBuffer(values);
  return hr;
}

void CAddressBookConnection::NewContactDialog(ULONG_PTR owner) {
  if (!opened_) return;
  ULONG templateLength = 0;
  LPENTRYID templateId = nullptr;
  if (!FAILED(DefaultTemplate(MAPI_MAILUSER, &templateLength, &templateId))) {
    ULONG newLength = 0;
    LPENTRYID newId = nullptr;
    addressBook_->NewEntry(owner, 0, 0, nullptr, templateLength, templateId, &newLength, &newId);
    FreeBuffer(newId);
  }
  FreeBuffer(templateId);
}

void CAddressBookConnection::CreateContact(
    const std::string& displayName, const std::string& email, const std::string& businessPhone,
    const std::string& businessFax, const std::string& homePhone, const std::string& homeFax,
    const std::string& pager, const std::string& mobile, const std::string& personalWebPage,
    const std::string& jobTitle, const std::string& department, const std::string& office,
    const std::string& companyName, const std::string& businessWebPage) {
  if (!opened_) return;
  ULONG templateLength = 0;
  LPENTRYID templateId = nullptr;
  DefaultTemplate(MAPI_MAILUSER, &templateLength, &templateId);
  com::ComPtr<IABContainer> container;
  com::ComPtr<IMAPIProp> entry;
  if (OpenPersonalAddressBook(&container) == S_OK &&
      SUCCEEDED(
          container->CreateEntry(templateLength, templateId, 0, entry.ReleaseAndGetAddressOf())) &&
      entry) {
    const std::string addressType = "SMTP";
    const struct {
      ULONG tag;
      const std::string& value;
    } properties[] = {
        {PR_DISPLAY_NAME, displayName},
        {PR_EMAIL_ADDRESS, email},
        {PR_ADDRTYPE, addressType},
        {PR_BUSINESS_TELEPHONE_NUMBER, businessPhone},
        {PR_HOME_TELEPHONE_NUMBER, homePhone},
        {PR_HOME_FAX_NUMBER, homeFax},
        {PR_PAGER_TELEPHONE_NUMBER, pager},
        {PR_CELLULAR_TELEPHONE_NUMBER, mobile},
        {PR_PERSONAL_HOME_PAGE, personalWebPage},
        {PR_TITLE, jobTitle},
        {PR_DEPARTMENT_NAME, department},
        {PR_OFFICE_LOCATION, office},
        {PR_COMPANY_NAME, companyName},
        {PR_BUSINESS_HOME_PAGE, businessWebPage},
        {PR_BUSINESS_FAX_NUMBER, businessFax},
    };
    for (const auto& property : properties) {
      SPropValue value{};
      value.ulPropTag = property.tag;
      value.Value.lpszA = const_cast<char*>(property.value.c_str());
      entry->SetProps(1, &value, nullptr);
    }
    entry->SaveChanges(0);
  }
  entry.Reset();
  container.Reset();
  FreeBuffer(templateId);
}

void CAddressBookConnection::SelectContact(const RecordList<CContact>& list, LONG index) {
  const CContact* contact = list.At(index);
  if (!contact) return;
  const std::vector<BYTE>& id = contact->EntryId();
  selected_.reset(new (std::nothrow) BYTE[id.size() ? id.size() : 1]());
  selectedLength_ = selected_ ? static_cast<ULONG>(id.size()) : 0;
  if (selectedLength_ > 0) std::memcpy(selected_.get(), id.data(), selectedLength_);
}

void CAddressBookConnection::ShowSelectedContact() {
  if (!opened_ || selectedLength_ == 0 || !selected_) return;
  ULONG_PTR noOwner = 0;
  addressBook_->Details(&noOwner, nullptr, nullptr, selectedLength_,
                        reinterpret_cast<LPENTRYID>(selected_.get()), nullptr, nullptr, nullptr, 0);
}

HRESULT CAddressBookConnection::DeleteSelectedContact() {
  if (!opened_) return MAPI_E_NOT_INITIALIZED;
  com::ComPtr<IABContainer> container;
  HRESULT hr = OpenPersonalAddressBook(&container);
  if (FAILED(hr)) return hr;
  SBinary entry{selectedLength_, selected_.get()};
  ENTRYLIST entries{1, &entry};
  hr = container->DeleteEntries(&entries, 0);
  FreeLastRead();
  return hr;
}

}  // namespace mq
