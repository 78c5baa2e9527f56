// SPDX-License-Identifier: LGPL-2.1-or-later
// The identities the Mailquarry module declares: its type library, the
// dispinterfaces and coclasses in it, and the property page class.
#pragma once

#include "platform/com/guid.h"

namespace mq {

constexpr GUID LIBID_MAILQUARRYLib = com::Guid("{852F7E51-E5D2-4F52-83DC-46C1359B3E32}");
constexpr WORD kLibMajor = 1;
constexpr WORD kLibMinor = 0;

constexpr IID IID_IMessages = com::Guid("{F8F4B95C-1176-46EF-90D0-957C9B84A4CB}");
constexpr IID IID_IFolders = com::Guid("{F4A8307A-F2A5-413A-A546-2D85C3834912}");
constexpr IID IID_IContacts = com::Guid("{F1EC5940-C276-4770-856D-59B19315C7BC}");
constexpr IID DIID__DMailquarry = com::Guid("{30F279FA-71B2-4E9D-AC8C-5C1DFA32B675}");
constexpr IID DIID__DMailquarryEvents = com::Guid("{EB25EEDC-5F93-4087-A38A-B0D2EA108D37}");
constexpr CLSID CLSID_Mailquarry = com::Guid("{F0DF45CE-EE4E-434D-96B4-61C8616B5712}");
constexpr CLSID CLSID_Folders = com::Guid("{6EA8D7D7-9CCD-4AA6-9DE5-131B4C6DDDC4}");
constexpr IID IID_IFolder = com::Guid("{7ED67201-C367-4FFC-9638-D9BF25D58892}");
constexpr CLSID CLSID_Folder = com::Guid("{5397CDDE-6682-47D7-AF88-42FBFF150B97}");
constexpr CLSID CLSID_Messages = com::Guid("{FB48963A-FE6C-4140-A651-5023B221B785}");
constexpr IID IID_IMessage = com::Guid("{C01E0E76-67A6-4106-B155-2EFBE561707B}");
constexpr CLSID CLSID_Message = com::Guid("{B0B9B6AD-D857-458C-A57B-E6B27281A5EC}");
constexpr IID IID_IEnumMessages = com::Guid("{1A31637E-CAC3-4729-B913-1574506E76CB}");
constexpr CLSID CLSID_EnumMessages = com::Guid("{65B7B002-F994-4FFF-ACC2-C58533CA1B34}");
constexpr IID IID_IAddressBooks = com::Guid("{A36F3D6E-BBA5-4564-BCFF-C3EC7E7AF167}");
constexpr CLSID CLSID_AddressBooks = com::Guid("{65BF4551-C4B0-4C2C-8553-F2368C2FC9CA}");
constexpr IID IID_IAddress = com::Guid("{561783C8-D299-467E-AC40-0BA27B0C8797}");
constexpr CLSID CLSID_Address = com::Guid("{2D2EC366-2289-45D4-BA17-BBF3123CF20B}");
constexpr CLSID CLSID_Contacts = com::Guid("{38BBAEA6-27DC-42A0-AF12-2DF503E63738}");
constexpr IID IID_IContact = com::Guid("{CDA2E255-1928-4152-9857-E0C07D6FADF7}");
constexpr CLSID CLSID_Contact = com::Guid("{D86EB38B-794A-474D-B356-614F3F371C79}");
constexpr IID IID_IEnumContacts = com::Guid("{0CA7FB41-6F92-4BAC-82F3-E7515FBDE669}");
constexpr CLSID CLSID_EnumContacts = com::Guid("{A221E38D-F873-4570-A1EC-E1907FBBCB9B}");
constexpr IID IID_IEnumFolders = com::Guid("{4E2444C0-A4D7-4B22-BDD7-7A669FAA9F9D}");
constexpr CLSID CLSID_EnumFolders = com::Guid("{F31982D1-CE0D-4405-B10A-69966BE7E95E}");

constexpr CLSID CLSID_MailquarryPropPage = com::Guid("{35475A04-7C1E-4441-B992-0AD49430BF6F}");

constexpr const char* kControlProgId = "MAILQUARRY.MailquarryCtrl.1";
constexpr const char* kPropPageProgId = "MAILQUARRY.MailquarryPropPage.1";
constexpr const char* kControlTypeName = "Mailquarry Control";
constexpr const char* kPropPageTypeName = "Mailquarry Property Page";

}  // namespace mq
