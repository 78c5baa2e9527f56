// SPDX-License-Identifier: LGPL-2.1-or-later
// The objects WABOpen hands out, over one book.
#pragma once

#include <string>
#include <vector>

#include "platform/wab/found_books.h"

#include "platform/wab/wab.h"

namespace wab {

// Opens the book at `location` (see ResolveBookLocation), followed in the
// contents by the `found` books of other programs, and makes the address
// book and WAB objects. New contacts go to the book at `location`.
HRESULT OpenAddressBook(const std::string& location, const std::vector<FoundBook>& found,
                        IAddrBook** addrBook, IWABObject** wabObject);

}  // namespace wab
