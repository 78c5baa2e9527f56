// SPDX-License-Identifier: LGPL-2.1-or-later
#include <atomic>

#include "platform/com/unknown.h"

namespace com {
std::atomic<long>& ModuleLockCount() {
  static std::atomic<long> count{0};
  return count;
}
}  // namespace com
