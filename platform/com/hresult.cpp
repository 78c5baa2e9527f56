// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/com/hresult.h"

#include <cerrno>
#include <cstdio>

namespace com {

HRESULT HResultFromErrno(int err) {
  switch (err) {
    case 0:
      return S_OK;
    case ENOENT:
      return HRESULT_FROM_WIN32_FILE_NOT_FOUND;
    case ENOTDIR:
      return HRESULT_FROM_WIN32_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
      return E_ACCESSDENIED;
    case EEXIST:
    case ENOTEMPTY:
      return HRESULT_FROM_WIN32_ALREADY_EXISTS;
    case ENOSPC:
    case EDQUOT:
      return HRESULT_FROM_WIN32_DISK_FULL;
    case ENOMEM:
      return E_OUTOFMEMORY;
    case EINVAL:
    case ENAMETOOLONG:
      return E_INVALIDARG;
    default:
      return E_FAIL;
  }
}

std::string HResultToString(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

}  // namespace com
