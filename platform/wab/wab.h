// SPDX-License-Identifier: LGPL-2.1-or-later
// The address book's published surface: WABOpen, the interfaces it hands out
// (IAddrBook, IWABObject, IABContainer, IMAPITable, IMailUser and their
// property interface IMAPIProp), the structures they exchange and the
// standard values. The engine (platform/wab) implements it; clients reach the
// engine only through WABOpen, found at run time, and these interfaces.
//
// Each interface declares the members the system uses, in the standard
// relative slot order. Every buffer an interface hands out comes from the WAB
// object's allocator and goes back through its FreeBuffer; freeing a buffer
// also frees every buffer AllocateMore hung on it.
#pragma once

#include "platform/com/types.h"
#include "platform/com/unknown.h"
#include "platform/wab/property_tags.h"

// Results of the address book.
constexpr HRESULT MAPI_E_CALL_FAILED = E_FAIL;
constexpr HRESULT MAPI_E_NOT_ENOUGH_MEMORY = E_OUTOFMEMORY;
constexpr HRESULT MAPI_E_INVALID_PARAMETER = E_INVALIDARG;
constexpr HRESULT MAPI_E_NO_ACCESS = E_ACCESSDENIED;
constexpr HRESULT MAPI_E_NO_SUPPORT = MakeHResult(0x80040102);
constexpr HRESULT MAPI_E_INVALID_ENTRYID = MakeHResult(0x80040107);
constexpr HRESULT MAPI_E_CORRUPT_DATA = MakeHResult(0x8004011B);
constexpr HRESULT MAPI_E_NOT_FOUND = MakeHResult(0x8004010F);
constexpr HRESULT MAPI_E_USER_CANCEL = MakeHResult(0x80040113);
constexpr HRESULT MAPI_E_DISK_ERROR = MakeHResult(0x80040116);
constexpr HRESULT MAPI_E_UNKNOWN_ENTRYID = MakeHResult(0x80040201);
constexpr HRESULT MAPI_E_NOT_INITIALIZED = MakeHResult(0x80040605);
// Some of the asked-for properties could not be given (their values carry PT_ERROR).
constexpr HRESULT MAPI_W_ERRORS_RETURNED = MakeHResult(0x00040380);

// Object types (PR_OBJECT_TYPE, and what OpenEntry reports).
constexpr ULONG MAPI_ABCONT = 4;
constexpr ULONG MAPI_MAILUSER = 6;
constexpr ULONG MAPI_DISTLIST = 8;

// Where IMAPITable::SeekRow counts from.
using BOOKMARK = ULONG;
constexpr BOOKMARK BOOKMARK_BEGINNING = 0;
constexpr BOOKMARK BOOKMARK_CURRENT = 1;
constexpr BOOKMARK BOOKMARK_END = 2;

// OpenEntry flags.
constexpr ULONG MAPI_MODIFY = 0x00000001;
constexpr ULONG MAPI_BEST_ACCESS = 0x00000010;

struct ENTRYID {
  BYTE abFlags[4];
  BYTE ab[1];
};
using LPENTRYID = ENTRYID*;

struct SBinary {
  ULONG cb;
  BYTE* lpb;
};

struct SBinaryArray {
  ULONG cValues;
  SBinary* lpbin;
};
using ENTRYLIST = SBinaryArray;
using LPENTRYLIST = ENTRYLIST*;

struct SStringArray {
  ULONG cValues;
  LPSTR* lppszA;
};

union PropValueUnion {
  SHORT i;
  LONG l;
  ULONG ul;
  double dbl;
  USHORT b;
  LONGLONG li;
  FILETIME ft;
  LPSTR lpszA;
  SBinary bin;
  OLECHAR* lpszW;
  GUID* lpguid;
  SBinaryArray MVbin;
  SStringArray MVszA;
  HRESULT err;
  LONG x;
};

struct SPropValue {
  ULONG ulPropTag;
  ULONG dwAlignPad;
  PropValueUnion Value;
};
using LPSPropValue = SPropValue*;

// A counted array of property tags; callers allocate room for cValues tags.
struct SPropTagArray {
  ULONG cValues;
  ULONG aulPropTag[1];
};
using LPSPropTagArray = SPropTagArray*;

// Declares a tag array with room for `count` tags that passes as an SPropTagArray.
template <ULONG count>
struct SizedSPropTagArray {
  ULONG cValues = count;
  ULONG aulPropTag[count];
  LPSPropTagArray Get() { return reinterpret_cast<LPSPropTagArray>(this); }
};

struct SRow {
  ULONG ulAdrEntryPad;
  ULONG cValues;
  LPSPropValue lpProps;
};

// A counted array of rows; the set and each row's property array are separate
// allocations, each freed on its own.
struct SRowSet {
  ULONG cRows;
  SRow aRow[1];
};
using LPSRowSet = SRowSet*;

constexpr ULONG SRowSetSize(ULONG rows) {
  return static_cast<ULONG>(sizeof(SRowSet) + (rows > 0 ? rows - 1 : 0) * sizeof(SRow));
}

struct SPropProblem {
  ULONG ulIndex;
  ULONG ulPropTag;
  HRESULT scode;
};
struct SPropProblemArray {
  ULONG cProblem;
  SPropProblem aProblem[1];
};
using LPSPropProblemArray = SPropProblemArray*;

// Open parameters. cbSize is a version stamp: callers set WAB_PARAM_SIZE
// whatever sizeof is on this platform, and any other value is refused.
struct WAB_PARAM {
  ULONG cbSize;
  HWND hwnd;
  LPSTR szFileName;  // the book to open (a directory or a .vcf file); empty or null: the default
  ULONG ulFlags;
  GUID guidPSExt;
};
constexpr ULONG WAB_PARAM_SIZE = 32;

// Dialog callbacks of IAddrBook::Details; the system passes none (a modal dialog).
using LPFNDISMISS = void (*)(ULONG_PTR ulUIParam, void* lpvContext);
using LPFNBUTTON = HRESULT (*)(ULONG_PTR ulUIParam, void* lpvContext, ULONG cbEntryID,
                               LPENTRYID lpSelection, ULONG ulFlags);

struct IMAPITable : IUnknown {
  static constexpr IID iid = com::Guid("{00020301-0000-0000-C000-000000000046}");
  using Base = IUnknown;
  virtual HRESULT SetColumns(LPSPropTagArray lpPropTagArray, ULONG ulFlags) = 0;
  virtual HRESULT SeekRow(BOOKMARK bkOrigin, LONG lRowCount, LONG* lplRowsSought) = 0;
  virtual HRESULT QueryRows(LONG lRowCount, ULONG ulFlags, LPSRowSet* lppRows) = 0;
};

struct IMAPIProp : IUnknown {
  static constexpr IID iid = com::Guid("{00020303-0000-0000-C000-000000000046}");
  using Base = IUnknown;
  virtual HRESULT SaveChanges(ULONG ulFlags) = 0;
  // A null tag array asks for every property of the object.
  virtual HRESULT GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                           LPSPropValue* lppPropArray) = 0;
  virtual HRESULT SetProps(ULONG cValues, LPSPropValue lpPropArray,
                           LPSPropProblemArray* lppProblems) = 0;
};

struct IMailUser : IMAPIProp {
  static constexpr IID iid = com::Guid("{0002030A-0000-0000-C000-000000000046}");
  using Base = IMAPIProp;
};

struct IMAPIContainer : IMAPIProp {
  static constexpr IID iid = com::Guid("{0002030B-0000-0000-C000-000000000046}");
  using Base = IMAPIProp;
  virtual HRESULT GetContentsTable(ULONG ulFlags, IMAPITable** lppTable) = 0;
};

struct IABContainer : IMAPIContainer {
  static constexpr IID iid = com::Guid("{0002030D-0000-0000-C000-000000000046}");
  using Base = IMAPIContainer;
  virtual HRESULT CreateEntry(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulCreateFlags,
                              IMAPIProp** lppMAPIPropEntry) = 0;
  virtual HRESULT DeleteEntries(LPENTRYLIST lpEntries, ULONG ulFlags) = 0;
};

struct IAddrBook : IMAPIProp {
  static constexpr IID iid = com::Guid("{00020309-0000-0000-C000-000000000046}");
  using Base = IMAPIProp;
  // Opens the personal address book container or one of its entries.
  virtual HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, const IID* lpInterface,
                            ULONG ulFlags, ULONG* lpulObjType, IUnknown** lppUnk) = 0;
  // Runs the new-entry dialog (modal) and stores what the user enters.
  virtual HRESULT NewEntry(ULONG_PTR ulUIParam, ULONG ulFlags, ULONG cbEIDContainer,
                           LPENTRYID lpEIDContainer, ULONG cbEIDNewEntryTpl,
                           LPENTRYID lpEIDNewEntryTpl, ULONG* lpcbEIDNewEntry,
                           LPENTRYID* lppEIDNewEntry) = 0;
  // Shows an entry's details; without a dismiss callback the dialog is modal.
  virtual HRESULT Details(ULONG_PTR* lpulUIParam, LPFNDISMISS lpfnDismiss, void* lpvDismissContext,
                          ULONG cbEntryID, LPENTRYID lpEntryID, LPFNBUTTON lpfButtonCallback,
                          void* lpvButtonContext, LPSTR lpszButtonText, ULONG ulFlags) = 0;
  // The entry identifier of the personal address book (freed with FreeBuffer).
  virtual HRESULT GetPAB(ULONG* lpcbEntryID, LPENTRYID* lppEntryID) = 0;
};

struct IWABObject : IUnknown {
  static constexpr IID iid = com::Guid("{8C2A5D30-61F4-4E1B-9B07-3D5E2C8A1F64}");
  using Base = IUnknown;
  virtual HRESULT AllocateBuffer(ULONG cbSize, void** lppBuffer) = 0;
  // A buffer that lives as long as `lpObject` (a buffer from AllocateBuffer).
  virtual HRESULT AllocateMore(ULONG cbSize, void* lpObject, void** lppBuffer) = 0;
  // Frees a buffer from AllocateBuffer with all that hangs on it; null is allowed.
  virtual ULONG FreeBuffer(void* lpBuffer) = 0;
};

constexpr IID IID_IMAPITable = IMAPITable::iid;
constexpr IID IID_IMAPIProp = IMAPIProp::iid;
constexpr IID IID_IMailUser = IMailUser::iid;
constexpr IID IID_IMAPIContainer = IMAPIContainer::iid;
constexpr IID IID_IABContainer = IABContainer::iid;
constexpr IID IID_IAddrBook = IAddrBook::iid;
constexpr IID IID_IWABObject = IWABObject::iid;

// The module's entry point, looked up by this name.
using LPWABOPEN = HRESULT (*)(IAddrBook** lppAdrBook, IWABObject** lppWABObject, WAB_PARAM* lpWP,
                              DWORD Reserved2);
constexpr const char* WAB_OPEN_ENTRY_POINT = "WABOpen";
// The module's name when the registry does not give its path.
constexpr const char* WAB_DEFAULT_DLL_NAME = "WAB32.DLL";
// Where the module's path is registered (default value, HKEY_LOCAL_MACHINE).
constexpr const char* WAB_DLL_PATH_KEY = "Software\\Microsoft\\WAB\\DLLPath";
