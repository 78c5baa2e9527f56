// SPDX-License-Identifier: LGPL-2.1-or-later
#include "control/typelib.h"

#include "control/dispids.h"
#include "control/guids.h"
#include "platform/com/dispatch.h"

namespace mq {
namespace {

using com::tlb::ImplementedInterface;
using com::tlb::Library;
using com::tlb::Member;
using com::tlb::MemberKind;
using com::tlb::Param;
using com::tlb::Type;
using com::tlb::TypeInfo;

constexpr Type kNone{VT_EMPTY};
constexpr Type kShort{VT_I2};
constexpr Type kLong{VT_I4};
constexpr Type kBool{VT_BOOL};
constexpr Type kBstr{VT_BSTR};
constexpr Type kVariant{VT_VARIANT};
constexpr Type kDispatch{VT_DISPATCH};
constexpr Type kUnknown{VT_UNKNOWN};

constexpr WORD kDispatchable = TYPEFLAG_FDISPATCHABLE;
constexpr WORD kCanCreate = TYPEFLAG_FCANCREATE;

Member Get(DISPID id, const char* name, Type type) {
  return {id, name, MemberKind::PropertyGet, type};
}
Member Method(DISPID id, const char* name, Type result, std::vector<Param> params = {}) {
  return {id, name, MemberKind::Method, result, std::move(params)};
}
Member Item(DISPID id) {
  return {id, "Item", MemberKind::PropertyGet, kDispatch, {{"Key", kVariant}}};
}
Member NewEnum() {
  return {DISPID_NEWENUM, "_NewEnum", MemberKind::PropertyGet, kUnknown, {}, FUNCFLAG_FRESTRICTED};
}

TypeInfo Dispinterface(const char* name, const GUID& guid, WORD flags, const char* help,
                       std::vector<Member> members) {
  return {TKIND_DISPATCH, name, guid, flags, help, std::move(members)};
}
TypeInfo Coclass(const char* name, const GUID& guid, WORD flags, const char* help,
                 std::vector<ImplementedInterface> implemented) {
  return {TKIND_COCLASS, name, guid, flags, help, {}, std::move(implemented)};
}
TypeInfo EmptyDispinterface(const char* name, const GUID& guid) {
  return Dispinterface(name, guid, kDispatchable, "", {});
}
TypeInfo PlainCoclass(const char* name, const GUID& guid, const char* defaultInterface) {
  return Coclass(name, guid, kCanCreate, "", {{defaultInterface, IMPLTYPEFLAG_FDEFAULT}});
}

std::vector<Member> MessagesMembers() {
  const Param index{"iIndex", kLong};
  return {
      Get(dispid::messages::kCount, "Count", kShort),
      Item(22),
      Method(dispid::messages::kFindReturnEmail, "FindReturnEmail", kBstr, {index}),
      Method(3, "FindDeliveredToEmail", kBstr, {index}),
      Method(dispid::messages::kFindMessageID, "FindMessageID", kLong, {index}),
      Method(5, "MarkMessagesAsRead", kBool, {index, {"bRead", kBool}}),
      Method(6, "DeleteMessage", kBool, {index}),
      Method(7, "Refresh", kNone),
      Method(8, "IsMessagesMarkAsRead", kBool, {index}),
      Method(9, "GetMessage", kBstr, {index}),
      Method(10, "FindDisplayFrom", kBstr, {index}),
      Method(11, "FindDisplayTo", kBstr, {index}),
      Method(12, "FindReceiveTime", kBstr, {index}),
      Method(13, "FindSentDay", kBstr, {index}),
      Method(14, "FindSize", kLong, {index}),
      Method(15, "FindIndexFromSubject", kLong, {{"strSubject", kBstr}}),
      Method(dispid::messages::kFindSubject, "FindSubject", kBstr, {index}),
      Method(dispid::messages::kExtractAttachment, "ExtractAttachment", kBool,
             {index, {"strOutputDir", kBstr}}),
      Method(18, "GetAttachmentCount", kShort, {index}),
      Method(19, "GetAttachmentName", kBstr, {{"iMsgIndex", kLong}, {"iAttachmentIndex", kLong}}),
      Method(dispid::messages::kSave2eml, "Save2eml", kBool, {index, {"strEMLFileName", kBstr}}),
      Method(21, "ViewMessage", kBool, {index}),
      NewEnum(),
  };
}

std::vector<Member> FoldersMembers() {
  const Param index{"iIndex", kShort};
  const Param folderId{"iFolderID", kLong};
  const Param messageId{"iMessageID", kLong};
  const Param destFolderId{"iDestFolderID", kLong};
  const Param parentId{"iParentFolderID", kLong};
  return {
      Get(dispid::folders::kCount, "Count", kShort),
      Method(dispid::folders::kFindFolderName, "FindFolderName", kBstr, {index}),
      Item(13),
      Method(3, "FindFolderID", kLong, {index}),
      Method(4, "DeleteFolder", kBool, {folderId}),
      Method(5, "MoveFolder", kBool, {folderId, parentId}),
      Method(6, "RenameFolder", kBool, {{"strNewName", kBstr}, folderId}),
      Method(7, "CompactAll", kBool, {{"iFlag", kLong}}),
      Method(8, "CopyMessage", kBool, {messageId, destFolderId}),
      Method(9, "CreateFolder", kBool, {{"strFolderName", kBstr}, parentId}),
      Method(10, "Refresh", kNone),
      Method(11, "MoveMessage", kBool, {messageId, destFolderId}),
      Method(12, "CreateMessage", kBool,
             {{"iFolderIndex", kLong},
              {"strFromEmail", kBstr},
              {"strToEmail", kBstr},
              {"strSubject", kBstr},
              {"strMessage", kBstr}}),
      NewEnum(),
  };
}

std::vector<Member> ContactsMembers() {
  const Param index{"iIndex", kLong};
  std::vector<Member> members = {
      Get(dispid::contacts::kCount, "Count", kLong),
      Method(2, "FindName", kBstr, {index}),
      Method(3, "ShowProperties", kNone, {index}),
      Method(4, "DeleteContact", kBool, {index}),
      Item(21),
      Method(5, "Refresh", kNone),
      Method(6, "NewContactFromUI", kNone),
      Method(7, "NewContact", kBool,
             {{"strContactName", kBstr},
              {"strEmail", kBstr},
              {"strBusTelNo", kBstr},
              {"strBusFaxNo", kBstr},
              {"strBusHomePage", kBstr},
              {"strHomeTelNo", kBstr},
              {"strHomeFaxNo", kBstr},
              {"strPager", kBstr},
              {"strMobile", kBstr},
              {"strPerHomePage", kBstr},
              {"strJobTitle", kBstr},
              {"strDepartment", kBstr},
              {"strOffice", kBstr},
              {"strCompanyName", kBstr}}),
  };
  const char* lookups[] = {
      "FindEmail",  "FindBusinessPhone", "FindHomePhone",       "FindHomeFax",  "FindBusinessFax",
      "FindPager",  "FindMobile",        "FindPersonalWebPage", "FindJobTitle", "FindDepartment",
      "FindOffice", "FindCompanyName",   "FindBusinessWebPage"};
  DISPID id = dispid::contacts::kFindEmail;
  for (const char* name : lookups) members.push_back(Method(id++, name, kBstr, {index}));
  members.push_back(NewEnum());
  return members;
}

std::vector<Member> ContactMembers() {
  const char* names[] = {"Name",        "Email",  "BusinessPhone", "HomePhone",       "HomeFax",
                         "BusinessFax", "Pager",  "Mobile",        "PersonalWebPage", "JobTitle",
                         "Department",  "Office", "CompanyName",   "BusinessWebPage"};
  std::vector<Member> members;
  DISPID id = 1;
  for (const char* name : names) members.push_back(Get(id++, name, kBstr));
  return members;
}

Library BuildLibrary() {
  return Library{
      "MAILQUARRYLib",
      LIBID_MAILQUARRYLib,
      kLibMajor,
      kLibMinor,
      0x409,
      SYS_WIN32,
      LIBFLAG_FCONTROL,
      "Mailquarry ActiveX Control",
      "Mailquarry.hlp",
      {{"stdole", com::Guid("{00020430-0000-0000-C000-000000000046}"), 2, 0, "stdole2.tlb"}},
      {
          Dispinterface("IMessages", IID_IMessages, kDispatchable, "", MessagesMembers()),
          Dispinterface("IFolders", IID_IFolders, kDispatchable, "", FoldersMembers()),
          Dispinterface("IContacts", IID_IContacts, kDispatchable, "", ContactsMembers()),
          Dispinterface(
              "_DMailquarry", DIID__DMailquarry, TYPEFLAG_FHIDDEN | kDispatchable,
              "Dispatch interface for Mailquarry Control",
              {
                  Get(dispid::control::kFolders, "Folders", {VT_DISPATCH, "IFolders"}),
                  {dispid::control::kFolder, "Folder", MemberKind::PropertyGetPut, kShort},
                  Get(dispid::control::kMessages, "Messages", {VT_DISPATCH, "IMessages"}),
                  Get(dispid::control::kContacts, "Contacts", {VT_DISPATCH, "IContacts"}),
                  Method(DISPID_ABOUTBOX, "AboutBox", kNone),
              }),
          Dispinterface("_DMailquarryEvents", DIID__DMailquarryEvents, kDispatchable,
                        "Event interface for Mailquarry Control", {}),
          Coclass("Mailquarry", CLSID_Mailquarry, kCanCreate | TYPEFLAG_FCONTROL,
                  "Mailquarry Control",
                  {{"_DMailquarry", IMPLTYPEFLAG_FDEFAULT},
                   {"_DMailquarryEvents", IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}}),
          PlainCoclass("Folders", CLSID_Folders, "IFolders"),
          Dispinterface("IFolder", IID_IFolder, kDispatchable, "", {Get(1, "Name", kBstr)}),
          PlainCoclass("Folder", CLSID_Folder, "IFolder"),
          PlainCoclass("Messages", CLSID_Messages, "IMessages"),
          Dispinterface("IMessage", IID_IMessage, kDispatchable, "",
                        {
                            Get(1, "Subject", kBstr),
                            Get(2, "ReceiveTime", kBstr),
                            Get(3, "SentTime", kBstr),
                            Get(4, "DisplayFrom", kBstr),
                            Get(5, "DisplayTo", kBstr),
                            Get(6, "Size", kLong),
                        }),
          PlainCoclass("Message", CLSID_Message, "IMessage"),
          EmptyDispinterface("IEnumMessages", IID_IEnumMessages),
          PlainCoclass("EnumMessages", CLSID_EnumMessages, "IEnumMessages"),
          EmptyDispinterface("IAddressBooks", IID_IAddressBooks),
          PlainCoclass("AddressBooks", CLSID_AddressBooks, "IAddressBooks"),
          EmptyDispinterface("IAddress", IID_IAddress),
          PlainCoclass("Address", CLSID_Address, "IAddress"),
          PlainCoclass("Contacts", CLSID_Contacts, "IContacts"),
          Dispinterface("IContact", IID_IContact, kDispatchable, "", ContactMembers()),
          PlainCoclass("Contact", CLSID_Contact, "IContact"),
          EmptyDispinterface("IEnumContacts", IID_IEnumContacts),
          PlainCoclass("EnumContacts", CLSID_EnumContacts, "IEnumContacts"),
          EmptyDispinterface("IEnumFolders", IID_IEnumFolders),
          PlainCoclass("EnumFolders", CLSID_EnumFolders, "IEnumFolders"),
      },
  };
}

}  // namespace

const com::tlb::Library& MailquarryLibrary() {
  static const Library library = BuildLibrary();
  return library;
}

}  // namespace mq
