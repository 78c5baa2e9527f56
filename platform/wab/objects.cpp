// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/wab/objects.h"

#include <glib.h>
#include <sys/random.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/wab/allocator.h"
#include "platform/wab/book.h"
#include "platform/wab/dialogs.h"
#include "platform/wab/entry_id.h"
#include "platform/wab/found_books.h"
#include "platform/wab/prop_values.h"

namespace wab {
namespace {

using com::ComPtr;
using com::MakeObject;

// An entry identifier in a new buffer of the engine's allocator.
HRESULT CopyEntryId(const std::string& id, ULONG* size, LPENTRYID* out) {
  void* buffer = AllocateRoot(id.size());
  if (!buffer) return MAPI_E_NOT_ENOUGH_MEMORY;
  std::memcpy(buffer, id.data(), id.size());
  *size = static_cast<ULONG>(id.size());
  *out = static_cast<LPENTRYID>(buffer);
  return S_OK;
}

PropOut Text(ULONG tag, std::string_view text) {
  return {tag, text};
}
PropOut Binary(ULONG tag, std::string_view bytes) {
  return {tag, bytes};
}
PropOut Number(ULONG tag, ULONG n) {
  PropOut v{tag, {}};
  v.number = n;
  return v;
}

// The properties of a contact: object type, identifier, then the mapped
// ones; with `tags`, only those it asks for, in its order. The values point
// into `contact` and `entryId`. Filled into `out`, which a caller keeps from
// row to row so that listing a book does not allocate it for each contact.
const std::vector<PropOut>& ContactProps(const Contact& contact, const std::string& entryId,
                                         const SPropTagArray* tags, std::vector<PropOut>& out) {
  out.clear();
  out.reserve((tags ? tags->cValues : contact.properties.size()) + 2);
  auto add = [&](const MappedProperty& p) {
    PropOut v{p.tag, p.text};
    v.time = p.time;
    out.push_back(v);
  };
  if (!tags) {
    out.push_back(Number(PR_OBJECT_TYPE, contact.objectType));
    if (!entryId.empty()) out.push_back(Binary(PR_ENTRYID, entryId));
    for (const MappedProperty& p : contact.properties) add(p);
    return out;
  }
  // A contact's properties are in ascending tag order, each identifier once:
  // each tag asked for is looked up by halves.
  const PropertyList& all = contact.properties;
  for (ULONG i = 0; i < tags->cValues; ++i) {
    const ULONG id = PROP_ID(tags->aulPropTag[i]);
    if (id == PROP_ID(PR_OBJECT_TYPE)) {
      out.push_back(Number(PR_OBJECT_TYPE, contact.objectType));
    } else if (id == PROP_ID(PR_ENTRYID)) {
      if (!entryId.empty()) out.push_back(Binary(PR_ENTRYID, entryId));
    } else {
      std::size_t low = 0, high = all.size();
      while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (PROP_ID(all.Tag(middle)) < id)
          low = middle + 1;
        else
          high = middle;
      }
      if (low < all.size() && PROP_ID(all.Tag(low)) == id) add(all[low]);
    }
  }
  return out;
}

// A random (version 4) UUID from the kernel's generator: a user-space
// generator seeded once per process would give two processes forked from one
// parent the same UIDs, and so the same file names.
std::string FreshUid() {
  unsigned char b[16] = {};
  std::size_t got = 0;
  while (got < sizeof b) {
    ssize_t n = getrandom(b + got, sizeof b - got, 0);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  b[6] = (b[6] & 0x0F) | 0x40;
  b[8] = (b[8] & 0x3F) | 0x80;
  char text[37];
  std::snprintf(text, sizeof text,
                "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14],
                b[15]);
  return text;
}

// The books of one opening: our own first (new contacts go there), then the
// found books of other programs, in order.
struct Shelf {
  struct Entry {
    std::string id;  // empty for our own book
    std::shared_ptr<CardSource> source;
  };
  std::vector<Entry> books;

  std::shared_ptr<CardSource> Own() const { return books.front().source; }
  std::shared_ptr<CardSource> Source(const std::string& id) const {
    for (const Entry& e : books)
      if (e.id == id) return e.source;
    return nullptr;
  }
  // The card an entry identifier names, in whichever book holds it.
  HRESULT Find(const CardKey& key, const std::string& book, std::shared_ptr<const LoadedFile>* file,
               const LoadedCard** card) const {
    std::shared_ptr<CardSource> source = Source(book);
    return source ? source->Find(key, file, card) : MAPI_E_NOT_FOUND;
  }
};

// The object type a creation template makes; no template makes a mail user.
HRESULT TemplateType(ULONG size, LPENTRYID id, ULONG* type) {
  *type = MAPI_MAILUSER;
  if (size == 0) return S_OK;
  EntryKind kind = ParseEntryId(reinterpret_cast<const BYTE*>(id), size, nullptr);
  if (kind == EntryKind::kDistListTemplate)
    *type = MAPI_DISTLIST;
  else if (kind != EntryKind::kMailUserTemplate)
    return MAPI_E_INVALID_ENTRYID;
  return S_OK;
}

// ---------------------------------------------------------------- WAB object

class WabObject final : public com::Object<IWABObject> {
 public:
  HRESULT AllocateBuffer(ULONG cbSize, void** lppBuffer) override {
    if (!lppBuffer) return MAPI_E_INVALID_PARAMETER;
    *lppBuffer = AllocateRoot(cbSize);
    return *lppBuffer ? S_OK : MAPI_E_NOT_ENOUGH_MEMORY;
  }
  HRESULT AllocateMore(ULONG cbSize, void* lpObject, void** lppBuffer) override {
    if (!lppBuffer || !lpObject) return MAPI_E_INVALID_PARAMETER;
    *lppBuffer = AllocateLinked(cbSize, lpObject);
    return *lppBuffer ? S_OK : MAPI_E_NOT_ENOUGH_MEMORY;
  }
  ULONG FreeBuffer(void* lpBuffer) override {
    FreeRoot(lpBuffer);
    return 0;
  }
};

// ---------------------------------------------------------------- mail user

// A contact: either one read from the book (read-only), or a new entry from
// CreateEntry that collects properties until SaveChanges writes its card.
class MailUser final : public com::Object<IMailUser> {
 public:
  // A card of a file as read; the file's parse is shared, not copied.
  MailUser(std::shared_ptr<const LoadedFile> file, const LoadedCard* card, std::string entryId)
      : file_(std::move(file)), card_(card), entryId_(std::move(entryId)) {}
  MailUser(std::shared_ptr<CardSource> book, ULONG objectType)
      : book_(std::move(book)), isNew_(true) {
    contact_.objectType = objectType;
  }

  HRESULT SaveChanges(ULONG) override {
    if (!isNew_) return entryId_.empty() ? MAPI_E_NO_ACCESS : S_OK;
    std::string uid = FreshUid();
    std::string card = WriteNewCard(contact_.properties, contact_.objectType, uid);
    CardKey key;
    HRESULT hr = book_->Create(card, uid, &key);
    if (FAILED(hr)) return hr;
    contact_.uid = uid;
    entryId_ = MakeCardEntryId(key);
    isNew_ = false;
    return S_OK;
  }

  HRESULT GetProps(LPSPropTagArray tags, ULONG, ULONG* count, LPSPropValue* values) override {
    thread_local std::vector<PropOut> scratch;
    return AnswerGetProps(ContactProps(Current(), entryId_, tags, scratch), tags, count, values);
  }

  HRESULT SetProps(ULONG cValues, LPSPropValue props, LPSPropProblemArray* problems) override {
    if (problems) *problems = nullptr;
    if (!isNew_) return MAPI_E_NO_ACCESS;
    if (cValues && !props) return MAPI_E_INVALID_PARAMETER;
    std::vector<SPropProblem> refused;
    for (ULONG i = 0; i < cValues; ++i) {
      HRESULT hr = Store(props[i]);
      if (FAILED(hr)) refused.push_back({i, props[i].ulPropTag, hr});
    }
    if (problems && !refused.empty()) {
      std::size_t size = sizeof(SPropProblemArray) + (refused.size() - 1) * sizeof(SPropProblem);
      auto* array = static_cast<SPropProblemArray*>(AllocateRoot(size));
      if (!array) return MAPI_E_NOT_ENOUGH_MEMORY;
      array->cProblem = static_cast<ULONG>(refused.size());
      std::memcpy(array->aProblem, refused.data(), refused.size() * sizeof(SPropProblem));
      *problems = array;
    }
    return S_OK;
  }

 private:
  // Keeps one property of a new entry; the last value of a tag wins, and an
  // empty text removes it (only non-empty values are written).
  HRESULT Store(const SPropValue& value) {
    ULONG tag = value.ulPropTag;
    if (PROP_ID(tag) == PROP_ID(PR_ADDRTYPE)) return S_OK;  // always SMTP
    if (!IsWritableTag(tag)) return MAPI_E_NO_ACCESS;
    OwnedProperty p;
    switch (PROP_TYPE(tag)) {
      case PT_STRING8:
        if (!value.Value.lpszA) return MAPI_E_INVALID_PARAMETER;
        p.text = value.Value.lpszA;
        break;
      case PT_UNICODE: {
        if (!value.Value.lpszW) return MAPI_E_INVALID_PARAMETER;
        std::size_t n = 0;
        while (value.Value.lpszW[n]) ++n;
        gchar* utf8 = g_utf16_to_utf8(reinterpret_cast<const gunichar2*>(value.Value.lpszW),
                                      static_cast<glong>(n), nullptr, nullptr, nullptr);
        if (!utf8) return MAPI_E_INVALID_PARAMETER;
        p.text = utf8;
        g_free(utf8);
        break;
      }
      case PT_SYSTIME:
        p.time =
            static_cast<LONGLONG>((static_cast<ULONGLONG>(value.Value.ft.dwHighDateTime) << 32) |
                                  value.Value.ft.dwLowDateTime);
        break;
      default:
        return MAPI_E_INVALID_PARAMETER;
    }
    ULONG stored = PROP_TYPE(tag) == PT_SYSTIME ? tag : CHANGE_PROP_TYPE(tag, PT_STRING8);
    p.tag = stored;
    // Text must be UTF-8; anything else cannot go into a card.
    if (!g_utf8_validate(p.text.data(), static_cast<gssize>(p.text.size()), nullptr))
      return MAPI_E_INVALID_PARAMETER;
    auto& list = entered_;
    for (auto it = list.begin(); it != list.end(); ++it) {
      if (PROP_ID(it->tag) == PROP_ID(tag)) {
        list.erase(it);
        break;
      }
    }
    if (!p.text.empty() || p.time) list.push_back(std::move(p));
    if (PROP_ID(tag) == PROP_ID(PR_EMAIL_ADDRESS)) {
      std::erase_if(list, [](const OwnedProperty& m) { return m.tag == PR_ADDRTYPE; });
      const bool hasEmail = std::any_of(list.begin(), list.end(), [](const OwnedProperty& m) {
        return m.tag == PR_EMAIL_ADDRESS;
      });
      if (hasEmail) list.push_back({PR_ADDRTYPE, "SMTP"});
    }
    std::sort(list.begin(), list.end(),
              [](const OwnedProperty& a, const OwnedProperty& b) { return a.tag < b.tag; });
    contact_.SetProperties(list);
    return S_OK;
  }
  const Contact& Current() const { return card_ ? card_->contact : contact_; }

  std::shared_ptr<CardSource> book_;        // where a new entry is saved
  std::shared_ptr<const LoadedFile> file_;  // keeps card_ alive
  const LoadedCard* card_ = nullptr;
  std::vector<OwnedProperty> entered_;  // a new entry's properties as set
  Contact contact_;                     // the same, as a read contact has them
  std::string entryId_;
  bool isNew_ = false;
};

// ---------------------------------------------------------------- table

// The container's contents: one row per card, books in shelf order, each
// book's files in its order (a directory's by byte order of their names),
// cards in file order. Files are read as the reading reaches them, so only
// the file at hand is held.
class ContentsTable final : public com::Object<IMAPITable> {
 public:
  explicit ContentsTable(std::shared_ptr<const Shelf> shelf) : shelf_(std::move(shelf)) {
    columns_ = {PR_ENTRYID, PR_DISPLAY_NAME, PR_OBJECT_TYPE, PR_EMAIL_ADDRESS};
  }
  // Our own book that cannot be listed fails the table; a found book that
  // cannot be listed has no rows.
  HRESULT Init() {
    for (const Shelf::Entry& book : shelf_->books) {
      std::vector<std::string> names;
      HRESULT hr = book.source->ListFiles(&names);
      if (FAILED(hr) && book.id.empty()) return hr;
      for (std::string& name : names) files_.push_back({&book, std::move(name)});
    }
    return S_OK;
  }

  HRESULT SetColumns(LPSPropTagArray tags, ULONG) override {
    if (!tags || tags->cValues == 0) return MAPI_E_INVALID_PARAMETER;
    columns_.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
    return S_OK;
  }

  HRESULT SeekRow(BOOKMARK origin, LONG count, LONG* sought) override {
    if (sought) *sought = 0;
    long long start;
    if (origin == BOOKMARK_BEGINNING)
      start = 0;
    else if (origin == BOOKMARK_CURRENT)
      start = position_;
    else if (origin == BOOKMARK_END)
      start = CountAll();
    else
      return MAPI_E_INVALID_PARAMETER;
    long long target = std::max(0LL, start + count);
    Rewind();
    while (position_ < target && Advance()) {
    }
    if (sought) *sought = static_cast<LONG>(position_ - start);
    return S_OK;
  }

  HRESULT QueryRows(LONG count, ULONG, LPSRowSet* rows) override {
    if (!rows) return MAPI_E_INVALID_PARAMETER;
    *rows = nullptr;
    if (count < 0) return MAPI_E_NO_SUPPORT;  // reading backwards is not offered
    std::vector<SPropValue*> read;
    HRESULT hr = S_OK;
    for (LONG i = 0; i < count && Current(); ++i) {
      SPropValue* props = RowProps();
      if (!props) {
        hr = MAPI_E_NOT_ENOUGH_MEMORY;
        break;
      }
      read.push_back(props);
      Advance();
    }
    auto* set = static_cast<SRowSet*>(AllocateRoot(SRowSetSize(static_cast<ULONG>(read.size()))));
    if (!set || FAILED(hr)) {
      for (SPropValue* p : read) FreeRoot(p);
      FreeRoot(set);
      return FAILED(hr) ? hr : MAPI_E_NOT_ENOUGH_MEMORY;
    }
    set->cRows = static_cast<ULONG>(read.size());
    for (std::size_t i = 0; i < read.size(); ++i) {
      set->aRow[i].cValues = static_cast<ULONG>(columns_.size());
      set->aRow[i].lpProps = read[i];
    }
    *rows = set;
    return S_OK;
  }

 private:
  void Rewind() {
    fileIndex_ = 0;
    cardIndex_ = 0;
    position_ = 0;
    file_.reset();
  }
  // The card at the cursor, reading files forward until one has a card.
  const LoadedCard* Current() {
    while (fileIndex_ < files_.size()) {
      if (!file_) file_ = files_[fileIndex_].book->source->Load(files_[fileIndex_].name);
      if (file_ && cardIndex_ < file_->cards.size()) return &file_->cards[cardIndex_];
      ++fileIndex_;
      cardIndex_ = 0;
      file_.reset();
    }
    return nullptr;
  }
  bool Advance() {
    if (!Current()) return false;
    ++cardIndex_;
    ++position_;
    return true;
  }
  long long CountAll() {
    Rewind();
    while (Advance()) {
    }
    return position_;
  }
  // The row's columns only; a column the card lacks is PT_ERROR.
  SPropValue* RowProps() {
    const LoadedCard* card = Current();
    std::string entryId = MakeCardEntryId(card->key, files_[fileIndex_].book->id);
    thread_local std::vector<PropOut> row;
    row.clear();
    row.reserve(columns_.size());
    for (ULONG tag : columns_) {
      PropOut v{CHANGE_PROP_TYPE(tag, PT_ERROR), {}};
      v.error = MAPI_E_NOT_FOUND;
      if (tag == PR_ENTRYID) {
        v = Binary(PR_ENTRYID, entryId);
      } else if (tag == PR_OBJECT_TYPE) {
        v = Number(PR_OBJECT_TYPE, card->contact.objectType);
      } else {
        for (const MappedProperty& p : card->contact.properties) {
          if (PROP_ID(p.tag) != PROP_ID(tag)) continue;
          ULONG type = PROP_TYPE(tag);
          bool text = PROP_TYPE(p.tag) == PT_STRING8 && (type == PT_UNICODE || type == PT_STRING8);
          if (type == PT_UNSPECIFIED || type == PROP_TYPE(p.tag) || text) {
            v = Text(text ? tag : p.tag, p.text);
            v.time = p.time;
          }
          break;
        }
      }
      row.push_back(v);
    }
    return PackProps(row);
  }

  struct BookFile {
    const Shelf::Entry* book;  // owned by shelf_
    std::string name;
  };
  std::shared_ptr<const Shelf> shelf_;
  std::vector<ULONG> columns_;
  std::vector<BookFile> files_;
  std::size_t fileIndex_ = 0;
  std::size_t cardIndex_ = 0;
  long long position_ = 0;
  std::shared_ptr<const LoadedFile> file_;
};

// ---------------------------------------------------------------- container

class Container final : public com::Object<IABContainer> {
 public:
  explicit Container(std::shared_ptr<const Shelf> shelf) : shelf_(std::move(shelf)) {}

  HRESULT SaveChanges(ULONG) override { return MAPI_E_NO_SUPPORT; }
  HRESULT GetProps(LPSPropTagArray tags, ULONG, ULONG* count, LPSPropValue* values) override {
    const std::string self = MakeEntryId(EntryKind::kBook);
    const std::string distList = MakeEntryId(EntryKind::kDistListTemplate);
    const std::string mailUser = MakeEntryId(EntryKind::kMailUserTemplate);
    std::vector<PropOut> all = {
        Number(PR_OBJECT_TYPE, MAPI_ABCONT),      Binary(PR_ENTRYID, self),
        Text(PR_DISPLAY_NAME, "Contacts"),        Binary(PR_DEF_CREATE_DL, distList),
        Binary(PR_DEF_CREATE_MAILUSER, mailUser),
    };
    return AnswerGetProps(all, tags, count, values);
  }
  HRESULT SetProps(ULONG, LPSPropValue, LPSPropProblemArray* problems) override {
    if (problems) *problems = nullptr;
    return MAPI_E_NO_ACCESS;
  }

  HRESULT GetContentsTable(ULONG, IMAPITable** table) override {
    if (!table) return MAPI_E_INVALID_PARAMETER;
    *table = nullptr;
    ComPtr<ContentsTable> t = MakeObject<ContentsTable>(shelf_);
    if (!t) return MAPI_E_NOT_ENOUGH_MEMORY;
    HRESULT hr = t->Init();
    if (FAILED(hr)) return hr;
    *table = t.Detach();
    return S_OK;
  }

  HRESULT CreateEntry(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG, IMAPIProp** entry) override {
    if (!entry) return MAPI_E_INVALID_PARAMETER;
    *entry = nullptr;
    ULONG type = 0;
    HRESULT hr = TemplateType(cbEntryID, lpEntryID, &type);
    if (FAILED(hr)) return hr;
    ComPtr<MailUser> user = MakeObject<MailUser>(shelf_->Own(), type);
    if (!user) return MAPI_E_NOT_ENOUGH_MEMORY;
    *entry = static_cast<IMAPIProp*>(user.Detach());
    return S_OK;
  }

  HRESULT DeleteEntries(LPENTRYLIST entries, ULONG) override {
    if (!entries || (entries->cValues && !entries->lpbin)) return MAPI_E_INVALID_PARAMETER;
    HRESULT result = S_OK;
    for (ULONG i = 0; i < entries->cValues; ++i) {
      // A card of a read-only book is refused (MAPI_E_NO_ACCESS) and stays.
      CardKey key;
      std::string book;
      std::shared_ptr<CardSource> source;
      HRESULT hr = MAPI_E_INVALID_ENTRYID;
      if (ParseEntryId(entries->lpbin[i].lpb, entries->lpbin[i].cb, &key, &book) ==
          EntryKind::kCard)
        hr = (source = shelf_->Source(book)) ? source->Delete(key) : MAPI_E_NOT_FOUND;
      if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
    return result;
  }

 private:
  std::shared_ptr<const Shelf> shelf_;
};

// ---------------------------------------------------------------- address book

class AddrBook final : public com::Object<IAddrBook> {
 public:
  explicit AddrBook(std::shared_ptr<const Shelf> shelf) : shelf_(std::move(shelf)) {}

  HRESULT SaveChanges(ULONG) override { return MAPI_E_NO_SUPPORT; }
  HRESULT GetProps(LPSPropTagArray, ULONG, ULONG* count, LPSPropValue* values) override {
    if (count) *count = 0;
    if (values) *values = nullptr;
    return MAPI_E_NO_SUPPORT;
  }
  HRESULT SetProps(ULONG, LPSPropValue, LPSPropProblemArray* problems) override {
    if (problems) *problems = nullptr;
    return MAPI_E_NO_SUPPORT;
  }

  HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, const IID* iid, ULONG, ULONG* objType,
                    IUnknown** unknown) override {
    if (!objType || !unknown) return MAPI_E_INVALID_PARAMETER;
    *objType = 0;
    *unknown = nullptr;
    CardKey key;
    std::string book;
    EntryKind kind = cbEntryID == 0 ? EntryKind::kBook
                                    : ParseEntryId(reinterpret_cast<const BYTE*>(lpEntryID),
                                                   cbEntryID, &key, &book);
    ComPtr<IUnknown> object;
    if (kind == EntryKind::kBook) {
      ComPtr<Container> c = MakeObject<Container>(shelf_);
      if (!c) return MAPI_E_NOT_ENOUGH_MEMORY;
      object = ComPtr<IUnknown>(c->Identity());
      *objType = MAPI_ABCONT;
    } else if (kind == EntryKind::kCard) {
      std::shared_ptr<const LoadedFile> file;
      const LoadedCard* card = nullptr;
      HRESULT hr = shelf_->Find(key, book, &file, &card);
      if (FAILED(hr)) return hr;
      // The identifier as given: it parsed, so it is the card's identifier byte
      // for byte.
      ComPtr<MailUser> user = MakeObject<MailUser>(
          std::move(file), card, std::string(reinterpret_cast<const char*>(lpEntryID), cbEntryID));
      if (!user) return MAPI_E_NOT_ENOUGH_MEMORY;
      object = ComPtr<IUnknown>(user->Identity());
      *objType = card->contact.objectType;
    } else if (kind == EntryKind::kInvalid) {
      return MAPI_E_INVALID_ENTRYID;
    } else {
      return MAPI_E_NOT_FOUND;  // templates are not opened
    }
    HRESULT hr =
        object->QueryInterface(iid ? *iid : IID_IUnknown, reinterpret_cast<void**>(unknown));
    if (FAILED(hr)) *objType = 0;
    return hr;
  }

  HRESULT NewEntry(ULONG_PTR, ULONG, ULONG, LPENTRYID, ULONG cbTemplate, LPENTRYID lpTemplate,
                   ULONG* cbNew, LPENTRYID* lpNew) override {
    if (cbNew) *cbNew = 0;
    if (lpNew) *lpNew = nullptr;
    ULONG type = 0;
    HRESULT hr = TemplateType(cbTemplate, lpTemplate, &type);
    if (FAILED(hr)) return hr;
    std::optional<std::vector<OwnedProperty>> entered = AskNewContact();
    if (!entered) return MAPI_E_USER_CANCEL;
    Contact contact;
    contact.SetProperties(*entered);
    std::string uid = FreshUid();
    CardKey key;
    hr = shelf_->Own()->Create(WriteNewCard(contact.properties, type, uid), uid, &key);
    if (FAILED(hr)) return hr;
    if (cbNew && lpNew) return CopyEntryId(MakeCardEntryId(key), cbNew, lpNew);
    return S_OK;
  }

  HRESULT Details(ULONG_PTR*, LPFNDISMISS, void*, ULONG cbEntryID, LPENTRYID lpEntryID, LPFNBUTTON,
                  void*, LPSTR, ULONG) override {
    CardKey key;
    std::string book;
    if (ParseEntryId(reinterpret_cast<const BYTE*>(lpEntryID), cbEntryID, &key, &book) !=
        EntryKind::kCard)
      return MAPI_E_INVALID_ENTRYID;
    std::shared_ptr<const LoadedFile> file;
    const LoadedCard* card = nullptr;
    HRESULT hr = shelf_->Find(key, book, &file, &card);
    if (FAILED(hr)) return hr;
    ShowDetailsDialog(card->contact);
    return S_OK;
  }

  HRESULT GetPAB(ULONG* cbEntryID, LPENTRYID* lpEntryID) override {
    if (!cbEntryID || !lpEntryID) return MAPI_E_INVALID_PARAMETER;
    *cbEntryID = 0;
    *lpEntryID = nullptr;
    return CopyEntryId(MakeEntryId(EntryKind::kBook), cbEntryID, lpEntryID);
  }

 private:
  std::shared_ptr<const Shelf> shelf_;
};

}  // namespace

HRESULT OpenAddressBook(const std::string& location, const std::vector<FoundBook>& found,
                        IAddrBook** addrBook, IWABObject** wabObject) {
  auto shelf = std::make_shared<Shelf>();
  shelf->books.push_back({"", std::make_shared<Book>(location)});
  for (const FoundBook& book : found) shelf->books.push_back({book.id, book.source});
  ComPtr<AddrBook> ab = MakeObject<AddrBook>(std::move(shelf));
  ComPtr<WabObject> wo = MakeObject<WabObject>();
  if (!ab || !wo) return MAPI_E_NOT_ENOUGH_MEMORY;
  *addrBook = ab.Detach();
  *wabObject = wo.Detach();
  return S_OK;
}

}  // namespace wab
