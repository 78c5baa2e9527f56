// SPDX-License-Identifier: LGPL-2.1-or-later
// The registry: a hierarchy of keys with string and 32-bit values, kept in
// text files. The user's file ($MAILQUARRY_REGISTRY, else
// $XDG_CONFIG_HOME/mailquarry/registry) lies over the system's (the first
// mailquarry/registry under $XDG_CONFIG_DIRS, default /etc/xdg), where
// installed packages register their modules: a key the user's file holds
// gives that key's values, and a key's subkeys are those of both files.
// Writes go to the user's file. Key names compare case-insensitively and keep
// their case. Reads see the files as last committed; an Edit applies all of
// its changes at once or none.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/com/hresult.h"

namespace reg {

enum class Root { ClassesRoot, LocalMachine, CurrentUser };

// "HKEY_CLASSES_ROOT", "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER".
std::string_view RootName(Root root);

// The user's file in use now.
std::string RegistryPath();

// The system file in use now: the first $XDG_CONFIG_DIRS entry (absolute
// ones only) that holds mailquarry/registry, else that file under the first
// entry, where a system-wide registration creates it.
std::string SystemRegistryPath();

// Key paths use `\` between components ("CLSID\{...}\InprocServer32").
// An empty value name is the key's default value; an empty key path is the root.
//
// Results: S_OK; REGDB_E_KEYMISSING when the key or value is absent or has
// another type; REGDB_E_READREGDB when either file cannot be read or is
// damaged (LastError() then names the file and line).
HRESULT GetString(Root root, std::string_view key, std::string_view name, std::string* out);
// A string value naming a file, such as a module's path. When the user's file
// gives one that no longer exists (a deleted build directory) and the system
// file has the value too, the system's: a stale registration of the user's
// does not hide a working one of the system.
HRESULT GetFilePath(Root root, std::string_view key, std::string_view name, std::string* out);
HRESULT GetDword(Root root, std::string_view key, std::string_view name, DWORD* out);
bool KeyExists(Root root, std::string_view key);
// Names as stored (in their first-written case), sorted case-insensitively;
// ListValues gives "" for the default value.
HRESULT ListSubkeys(Root root, std::string_view key, std::vector<std::string>* out);
HRESULT ListValues(Root root, std::string_view key, std::vector<std::string>* out);

// A batch of changes to the user's file, applied atomically (temporary file, fsync, rename) while
// holding the lock that serialises writers across processes. The changes are
// applied to the file's content as it is when Commit runs, so two processes
// editing different keys both keep their changes.
class Edit {
 public:
  Edit& CreateKey(Root root, std::string key);
  Edit& SetString(Root root, std::string key, std::string name, std::string value);
  Edit& SetDword(Root root, std::string key, std::string name, DWORD value);
  Edit& DeleteValue(Root root, std::string key, std::string name);
  // The key with all its subkeys and values; absent keys are no error.
  Edit& DeleteTree(Root root, std::string key);
  // The key, when at that point of the edit it holds neither values nor
  // subkeys (so unregistration can remove the containers it created).
  Edit& DeleteKeyIfEmpty(Root root, std::string key);

  // S_OK; E_INVALIDARG for a key path with an empty component or a control
  // character; REGDB_E_WRITEREGDB when the file cannot be written;
  // REGDB_E_READREGDB when the existing file is damaged (it is left as it is).
  HRESULT Commit();

  struct Change {
    enum Kind { kCreateKey, kSetString, kSetDword, kDeleteValue, kDeleteTree, kDeleteIfEmpty } kind;
    Root root;
    std::string key;
    std::string name;
    std::string text;
    DWORD number = 0;
  };

 private:
  std::vector<Change> changes_;
};

// The message of the last failure on this thread, naming the file (and line,
// for a damaged file); empty after a success.
std::string LastError();

}  // namespace reg
