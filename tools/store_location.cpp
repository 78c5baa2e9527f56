// SPDX-License-Identifier: LGPL-2.1-or-later
// store-location: prints in one line which mail store Mailquarry opens for
// this user ($MAILDIR; else every store found in the known places: ~/Maildir,
// the default Thunderbird profile, Evolution, KMail, Claws Mail, Sylpheed,
// Geary, the mail spool, ~/Mail; else the demo store scripts/run made) and
// what is only read, then a line for each address book the contacts come
// from. Exits 1 when there is no mail store, so that scripts can offer the
// demo store instead.
#include <cstdio>

#include "platform/store/store_location.h"
#include "platform/wab/found_books.h"
#include "tools/command_line.h"

namespace {

const char kUsage[] =
    "usage: store-location\n"
    "Prints which mail store Mailquarry opens: $MAILDIR when set, else every store\n"
    "found (~/Maildir, the default Thunderbird profile, Evolution's and KMail's local\n"
    "folders, Claws Mail's and Sylpheed's mailboxes, Geary, the mail spool, ~/Mail)\n"
    "as one tree, else the demo store that scripts/run made, then one line for\n"
    "each address book: our own, then those of Thunderbird, Evolution and KDE\n"
    "found for this user.\n"
    "Exits 1 when there is no mail store.\n";

}  // namespace

int main(int argc, char** argv) {
  tools::CommandLine line = tools::ParseCommandLine(argc, argv, kUsage, {});
  if (line.exitStatus >= 0) return line.exitStatus;
  if (!line.operands.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  store::StoreLocation where = store::LocateStore();
  std::printf("%s\n", store::DescribeStore(where).c_str());
  for (const std::string& line : wab::DescribeAddressBooks()) std::printf("%s\n", line.c_str());
  return where.found ? 0 : 1;
}
