// SPDX-License-Identifier: LGPL-2.1-or-later
// The DISPIDs that clients bind to by number. The type library table
// (typelib.cpp) declares each of these members with the constant named here,
// and Mailsift, which never links the control, includes this header to call
// them; so a number is written once for both sides.
#pragma once

#include "platform/com/types.h"

namespace mq::dispid {

// _DMailquarry, the control.
namespace control {
constexpr DISPID kFolders = 1;
constexpr DISPID kFolder = 2;
constexpr DISPID kMessages = 3;
constexpr DISPID kContacts = 4;
}  // namespace control

// IFolders.
namespace folders {
constexpr DISPID kCount = 1;
constexpr DISPID kFindFolderName = 2;
}  // namespace folders

// IMessages.
namespace messages {
constexpr DISPID kCount = 1;
constexpr DISPID kFindReturnEmail = 2;
constexpr DISPID kFindMessageID = 4;
constexpr DISPID kFindSize = 14;
constexpr DISPID kFindSubject = 16;
constexpr DISPID kExtractAttachment = 17;
constexpr DISPID kGetAttachmentCount = 18;
constexpr DISPID kSave2eml = 20;
}  // namespace messages

// IContacts.
namespace contacts {
constexpr DISPID kCount = 1;
// The first of the thirteen field lookups, which follow it in order.
constexpr DISPID kFindEmail = 8;
}  // namespace contacts

}  // namespace mq::dispid
