// The objects WABOpen hands out, over one book.
#pragma once

#include <string>

#include "platform/wab/wab.h"

namespace wab {

// Opens the book at `location` (see ResolveBookLocation) and makes the
// address book and WAB objects.
HRESULT OpenAddressBook(const std::string& location, IAddrBook** addrBook, IWABObject** wabObject);

}  // namespace wab
