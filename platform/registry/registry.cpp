// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/registry/registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/shell/files.h"

namespace reg {
namespace {

// The first line of every registry file; the number is the format version.
constexpr std::string_view kMagic = "mailquarry-registry";
constexpr int kVersion = 1;

thread_local std::string g_last_error;

HRESULT Fail(HRESULT hr, std::string message) {
  g_last_error = std::move(message);
  return hr;
}

HRESULT Ok() {
  g_last_error.clear();
  return S_OK;
}

std::string Fold(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// ---------------------------------------------------------------------------
// The in-memory tree.

struct Value {
  std::string name;  // as first written
  bool is_dword = false;
  std::string text;
  DWORD number = 0;
};

struct Node {
  std::string name;                                      // as first written
  std::map<std::string, Value> values;                   // by folded name
  std::map<std::string, std::unique_ptr<Node>> subkeys;  // by folded name
};

struct Tree {
  std::array<Node, 3> roots;
};

constexpr std::array<Root, 3> kRoots = {Root::ClassesRoot, Root::LocalMachine, Root::CurrentUser};

Node& RootNode(Tree& tree, Root root) {
  return tree.roots[static_cast<size_t>(root)];
}
const Node& RootNode(const Tree& tree, Root root) {
  return tree.roots[static_cast<size_t>(root)];
}

// Splits "A\B\C" into its components. The empty path is the root itself;
// empty components and control characters are refused, as a key name of
// that kind could not be written as one line.
bool SplitKey(std::string_view key, std::vector<std::string_view>* parts) {
  parts->clear();
  if (key.empty()) return true;
  size_t start = 0;
  while (true) {
    size_t end = key.find('\\', start);
    std::string_view part = key.substr(start, end == std::string_view::npos ? end : end - start);
    if (part.empty()) return false;
    for (unsigned char c : part) {
      if (c < 0x20 || c == 0x7f) return false;
    }
    parts->push_back(part);
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

const Node* FindKey(const Tree& tree, Root root, std::string_view key) {
  std::vector<std::string_view> parts;
  if (!SplitKey(key, &parts)) return nullptr;
  const Node* node = &RootNode(tree, root);
  for (std::string_view part : parts) {
    auto it = node->subkeys.find(Fold(part));
    if (it == node->subkeys.end()) return nullptr;
    node = it->second.get();
  }
  return node;
}

Node* MakeKey(Node* node, const std::vector<std::string_view>& parts) {
  for (std::string_view part : parts) {
    auto& slot = node->subkeys[Fold(part)];
    if (!slot) {
      slot = std::make_unique<Node>();
      slot->name = std::string(part);
    }
    node = slot.get();
  }
  return node;
}

void SetValue(Node* node, const std::string& name, bool is_dword, const std::string& text,
              DWORD number) {
  Value& v = node->values[Fold(name)];
  if (v.name.empty()) v.name = name;
  v.is_dword = is_dword;
  v.text = is_dword ? std::string() : text;
  v.number = is_dword ? number : 0;
}

bool ValidRootName(std::string_view name, Root* root) {
  for (Root r : kRoots) {
    if (Fold(name) == Fold(RootName(r))) {
      *root = r;
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------
// The text form.
//
//   mailquarry-registry 1
//
//   [HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32]
//   @="/usr/lib/mailquarry/mailquarry.ocx"
//   "ThreadingModel"="Apartment"
//   "Flags"=dword:0000002a
//
// Keys come in sorted order (case-insensitively), parents before children,
// values sorted by name with the default value (@) first. Strings are quoted;
// `\`, `"`, control bytes and bytes that are not valid UTF-8 are escaped
// (\\ \" \n \r \t \xHH), so any byte sequence survives a round trip.

// The length of the valid UTF-8 sequence at s[i], or 0.
size_t Utf8SequenceLength(std::string_view s, size_t i) {
  auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = b(i);
  size_t len;
  std::uint32_t cp;
  if (c >= 0xc2 && c <= 0xdf) {
    len = 2, cp = c & 0x1f;
  } else if (c >= 0xe0 && c <= 0xef) {
    len = 3, cp = c & 0x0f;
  } else if (c >= 0xf0 && c <= 0xf4) {
    len = 4, cp = c & 0x07;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((b(i + k) & 0xc0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + k) & 0x3f);
  }
  if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10ffff))) return 0;
  if (cp >= 0xd800 && cp <= 0xdfff) return 0;
  return len;
}

void AppendQuoted(std::string* out, std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  out->push_back('"');
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '\\' || c == '"') {
      out->push_back('\\');
      out->push_back(static_cast<char>(c));
    } else if (c == '\n') {
      out->append("\\n");
    } else if (c == '\r') {
      out->append("\\r");
    } else if (c == '\t') {
      out->append("\\t");
    } else if (c >= 0x80) {
      if (size_t len = Utf8SequenceLength(s, i)) {
        out->append(s.substr(i, len));
        i += len;
        continue;
      }
      out->append("\\x").push_back(kHex[c >> 4]);
      out->push_back(kHex[c & 15]);
    } else if (c < 0x20 || c == 0x7f) {
      out->append("\\x").push_back(kHex[c >> 4]);
      out->push_back(kHex[c & 15]);
    } else {
      out->push_back(static_cast<char>(c));
    }
    ++i;
  }
  out->push_back('"');
}

void AppendValue(std::string* out, const Value& v) {
  if (v.name.empty()) {
    out->push_back('@');
  } else {
    AppendQuoted(out, v.name);
  }
  out->push_back('=');
  if (v.is_dword) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "dword:%08x", static_cast<unsigned>(v.number));
    out->append(hex);
  } else {
    AppendQuoted(out, v.text);
  }
  out->push_back('\n');
}

void AppendNode(std::string* out, const Node& node, const std::string& path, bool is_root) {
  if (!is_root || !node.values.empty()) {
    out->append("\n[").append(path).append("]\n");
    for (const auto& [folded, value] : node.values) AppendValue(out, value);
  }
  for (const auto& [folded, child] : node.subkeys) {
    AppendNode(out, *child, path + "\\" + child->name, false);
  }
}

std::string Serialize(const Tree& tree) {
  std::string out;
  out.append(kMagic).append(" ").append(std::to_string(kVersion)).append("\n");
  for (Root r : kRoots) AppendNode(&out, RootNode(tree, r), std::string(RootName(r)), true);
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted string at line[*pos]; on success *pos is past the closing quote.
bool ParseQuoted(std::string_view line, size_t* pos, std::string* out, std::string* why) {
  out->clear();
  size_t i = *pos;
  if (i >= line.size() || line[i] != '"') {
    *why = "expected a quoted string";
    return false;
  }
  for (++i; i < line.size(); ++i) {
    size_t special = line.find_first_of("\"\\", i);
    if (special == std::string_view::npos) break;
    out->append(line.substr(i, special - i));
    i = special;
    if (line[i] == '"') {
      *pos = i + 1;
      return true;
    }
    if (++i >= line.size()) break;
    switch (line[i]) {
      case '\\':
      case '"':
        out->push_back(line[i]);
        break;
      case 'n':
        out->push_back('\n');
        break;
      case 'r':
        out->push_back('\r');
        break;
      case 't':
        out->push_back('\t');
        break;
      case 'x': {
        int hi = i + 1 < line.size() ? HexDigit(line[i + 1]) : -1;
        int lo = i + 2 < line.size() ? HexDigit(line[i + 2]) : -1;
        if (hi < 0 || lo < 0) {
          *why = "bad \\x escape";
          return false;
        }
        out->push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        break;
      }
      default:
        *why = std::string("unknown escape \\") + line[i];
        return false;
    }
  }
  *why = "unterminated string";
  return false;
}

// Parses the whole file; on failure *error is "<path>:<line>: <reason>".
bool Parse(std::string_view text, const std::string& path, Tree* tree, std::string* error) {
  size_t line_no = 0;
  Node* current = nullptr;
  auto fail = [&](const std::string& why) {
    *error = path + ":" + std::to_string(line_no) + ": " + why;
    return false;
  };
  // A file that is empty (created by someone and not yet written by us) holds nothing.
  if (text.empty()) return true;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++line_no;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    if (line_no == 1) {
      std::string expected = std::string(kMagic) + " " + std::to_string(kVersion);
      if (line == expected) continue;
      if (line.substr(0, kMagic.size() + 1) == std::string(kMagic) + " ") {
        return fail("unsupported format version \"" + std::string(line.substr(kMagic.size() + 1)) +
                    "\"");
      }
      return fail("not a registry file (the first line must be \"" + expected + "\")");
    }
    if (line.empty() || line[0] == ';') continue;

    if (line[0] == '[') {
      if (line.size() < 2 || line.back() != ']') return fail("key line without closing ]");
      std::string_view full = line.substr(1, line.size() - 2);
      std::string_view root_name = full.substr(0, full.find('\\'));
      Root root;
      if (!ValidRootName(root_name, &root)) {
        return fail("unknown root key \"" + std::string(root_name) + "\"");
      }
      std::string_view rest =
          root_name.size() == full.size() ? std::string_view() : full.substr(root_name.size() + 1);
      std::vector<std::string_view> parts;
      if (!SplitKey(rest, &parts) || (rest.empty() && root_name.size() != full.size())) {
        return fail("bad key name");
      }
      current = MakeKey(&RootNode(*tree, root), parts);
      continue;
    }

    if (line[0] != '@' && line[0] != '"') return fail("expected a key or a value");
    if (!current) return fail("value outside a key");
    std::string name;
    size_t pos = 0;
    std::string why;
    if (line[0] == '@') {
      pos = 1;
    } else if (!ParseQuoted(line, &pos, &name, &why)) {
      return fail(why);
    }
    if (name.empty() && line[0] == '"') return fail("empty value name (the default value is @)");
    if (pos >= line.size() || line[pos] != '=') return fail("expected =");
    ++pos;
    std::string_view data = line.substr(pos);
    if (data.substr(0, 6) == "dword:") {
      std::string_view digits = data.substr(6);
      if (digits.size() != 8) return fail("a dword needs 8 hex digits");
      DWORD number = 0;
      for (char c : digits) {
        int d = HexDigit(c);
        if (d < 0) return fail("a dword needs 8 hex digits");
        number = number * 16 + static_cast<DWORD>(d);
      }
      SetValue(current, name, true, {}, number);
    } else {
      std::string text_value;
      if (!ParseQuoted(line, &pos, &text_value, &why)) return fail(why);
      if (pos != line.size()) return fail("text after the value");
      SetValue(current, name, false, text_value, 0);
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// Files.

std::string ErrnoText(int err) {
  return std::strerror(err);
}

// Reads the whole file behind fd.
bool ReadAll(int fd, std::string* out, int* err) {
  out->clear();
  char buffer[65536];
  while (true) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      *err = errno;
      return false;
    }
    if (n == 0) return true;
    out->append(buffer, static_cast<size_t>(n));
  }
}

std::string DirName(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// mkdir -p for the directory that holds the file; new directories are 0700,
// as the registry is the user's own.
bool MakeParents(const std::string& path, std::string* error) {
  std::string dir = DirName(path);
  struct stat st;
  if (stat(dir.c_str(), &st) == 0) return true;
  for (size_t i = 1; i <= dir.size(); ++i) {
    if (i != dir.size() && dir[i] != '/') continue;
    std::string prefix = dir.substr(0, i);
    if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
      *error = "cannot create directory " + prefix + ": " + ErrnoText(errno);
      return false;
    }
  }
  return true;
}

using files::UniqueFd;

// The parsed file of the last read, one for the user's file and one for the
// system's. Its descriptor stays open so that the inode cannot be freed and
// handed to a newer file while we remember it: a matching (device, inode)
// therefore means the very same file, and writers only ever replace the file,
// never change it in place. Size and times guard against an edit made in
// place by hand.
struct Cache {
  std::mutex mutex;
  std::string path;
  UniqueFd fd;
  struct stat st {};
  std::shared_ptr<const Tree> tree;
};

enum class Layer { kUser, kSystem };

Cache& TheCache(Layer layer) {
  // Never destroyed: reads may run during exit.
  static auto* caches = new std::array<Cache, 2>;
  return (*caches)[layer == Layer::kUser ? 0 : 1];
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

std::shared_ptr<const Tree> EmptyTree() {
  static const auto empty = std::make_shared<const Tree>();
  return empty;
}

HRESULT LoadFile(Layer layer, const std::string& path, std::shared_ptr<const Tree>* out) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      *out = EmptyTree();
      return Ok();
    }
    return Fail(REGDB_E_READREGDB, "cannot read " + path + ": " + ErrnoText(errno));
  }
  Cache& cache = TheCache(layer);
  std::lock_guard lock(cache.mutex);
  if (cache.tree && cache.path == path && SameFile(cache.st, st)) {
    *out = cache.tree;
    return Ok();
  }
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == ENOENT) {
      *out = EmptyTree();
      return Ok();
    }
    return Fail(REGDB_E_READREGDB, "cannot read " + path + ": " + ErrnoText(errno));
  }
  std::string text;
  int err = 0;
  if (fstat(fd.get(), &st) != 0 || !ReadAll(fd.get(), &text, &err)) {
    return Fail(REGDB_E_READREGDB, "cannot read " + path + ": " + ErrnoText(err ? err : errno));
  }
  auto tree = std::make_shared<Tree>();
  std::string error;
  if (!Parse(text, path, tree.get(), &error)) return Fail(REGDB_E_READREGDB, error);
  cache.path = path;
  cache.st = st;
  cache.fd.Reset(fd.Release());
  cache.tree = tree;
  *out = std::move(tree);
  return Ok();
}

// What reads see: the user's file over the system's. A damaged system file is
// an error like a damaged user file, so it is reported rather than passed over.
struct View {
  std::shared_ptr<const Tree> user;
  std::shared_ptr<const Tree> system;
};

HRESULT Load(View* out) {
  const std::string user_path = RegistryPath();
  const std::string system_path = SystemRegistryPath();
  if (HRESULT hr = LoadFile(Layer::kUser, user_path, &out->user); FAILED(hr)) return hr;
  // The same file named twice (a system-wide registration works on the
  // system file as its own) is one layer.
  if (system_path == user_path) {
    out->system = EmptyTree();
    return Ok();
  }
  return LoadFile(Layer::kSystem, system_path, &out->system);
}

// The node that gives a key's values: the user's when the user's file has
// the key, else the system's.
const Node* ValuesNode(const View& view, Root root, std::string_view key) {
  if (const Node* node = FindKey(*view.user, root, key)) return node;
  return FindKey(*view.system, root, key);
}

const Value* FindValue(const Node* node, std::string_view name, bool is_dword) {
  if (!node) return nullptr;
  auto it = node->values.find(Fold(name));
  if (it == node->values.end() || it->second.is_dword != is_dword) return nullptr;
  return &it->second;
}

void ApplyChange(Tree* tree, const Edit::Change& c) {
  std::vector<std::string_view> parts;
  SplitKey(c.key, &parts);
  Node* root = &RootNode(*tree, c.root);
  switch (c.kind) {
    case Edit::Change::kCreateKey:
      MakeKey(root, parts);
      break;
    case Edit::Change::kSetString:
      SetValue(MakeKey(root, parts), c.name, false, c.text, 0);
      break;
    case Edit::Change::kSetDword:
      SetValue(MakeKey(root, parts), c.name, true, {}, c.number);
      break;
    case Edit::Change::kDeleteValue:
      if (const Node* found = FindKey(*tree, c.root, c.key)) {
        const_cast<Node*>(found)->values.erase(Fold(c.name));
      }
      break;
    case Edit::Change::kDeleteIfEmpty:
    case Edit::Change::kDeleteTree: {
      if (parts.empty()) {
        if (c.kind == Edit::Change::kDeleteIfEmpty) break;
        root->values.clear();
        root->subkeys.clear();
        break;
      }
      std::string_view last = parts.back();
      parts.pop_back();
      Node* parent = root;
      for (std::string_view part : parts) {
        auto it = parent->subkeys.find(Fold(part));
        if (it == parent->subkeys.end()) return;
        parent = it->second.get();
      }
      auto child = parent->subkeys.find(Fold(last));
      if (child == parent->subkeys.end()) break;
      if (c.kind == Edit::Change::kDeleteIfEmpty &&
          (!child->second->values.empty() || !child->second->subkeys.empty()))
        break;
      parent->subkeys.erase(child);
      break;
    }
  }
}

}  // namespace

std::string_view RootName(Root root) {
  switch (root) {
    case Root::ClassesRoot:
      return "HKEY_CLASSES_ROOT";
    case Root::LocalMachine:
      return "HKEY_LOCAL_MACHINE";
    case Root::CurrentUser:
      return "HKEY_CURRENT_USER";
  }
  return "HKEY_CLASSES_ROOT";
}

namespace {
std::string HomeDirectory() {
  const char* home = std::getenv("HOME");
  std::string home_dir = home && *home ? home : "";
  if (home_dir.empty()) {
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) home_dir = pw->pw_dir;
  }
  return home_dir.empty() ? "/" : home_dir;
}
}  // namespace

std::string RegistryPath() {
  if (const char* explicit_path = std::getenv("MAILQUARRY_REGISTRY");
      explicit_path && *explicit_path) {
    return explicit_path;
  }
  std::string config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
    config = xdg;
  } else {
    config = HomeDirectory() + "/.config";
  }
  return config + "/mailquarry/registry";
}

std::string SystemRegistryPath() {
  constexpr std::string_view kFile = "/mailquarry/registry";
  const char* env = std::getenv("XDG_CONFIG_DIRS");
  std::string_view dirs = env && *env ? env : "/etc/xdg";
  std::string first;
  while (!dirs.empty()) {
    size_t colon = dirs.find(':');
    std::string_view dir = dirs.substr(0, colon);
    dirs = colon == std::string_view::npos ? std::string_view() : dirs.substr(colon + 1);
    // Relative entries are not valid there, and would depend on the
    // working directory.
    if (dir.empty() || dir[0] != '/') continue;
    while (dir.size() > 1 && dir.back() == '/') dir.remove_suffix(1);
    std::string path = std::string(dir == "/" ? "" : dir) + std::string(kFile);
    if (access(path.c_str(), F_OK) == 0) return path;
    if (first.empty()) first = std::move(path);
  }
  return first.empty() ? "/etc/xdg" + std::string(kFile) : first;
}

HRESULT GetString(Root root, std::string_view key, std::string_view name, std::string* out) {
  if (!out) return Fail(E_POINTER, "no output given");
  View view;
  if (HRESULT hr = Load(&view); FAILED(hr)) return hr;
  const Node* node = ValuesNode(view, root, key);
  if (!node) return Fail(REGDB_E_KEYMISSING, "no key " + std::string(key));
  const Value* value = FindValue(node, name, false);
  if (!value) {
    return Fail(REGDB_E_KEYMISSING,
                "no string value \"" + std::string(name) + "\" in " + std::string(key));
  }
  *out = value->text;
  return Ok();
}

HRESULT GetFilePath(Root root, std::string_view key, std::string_view name, std::string* out) {
  HRESULT hr = GetString(root, key, name, out);
  if (hr != S_OK || out->empty()) return hr;
  struct stat st;
  if (stat(out->c_str(), &st) == 0) return hr;
  View view;
  if (FAILED(Load(&view))) return hr;
  if (const Value* system = FindValue(FindKey(*view.system, root, key), name, false)) {
    *out = system->text;
  }
  return Ok();
}

HRESULT GetDword(Root root, std::string_view key, std::string_view name, DWORD* out) {
  if (!out) return Fail(E_POINTER, "no output given");
  View view;
  if (HRESULT hr = Load(&view); FAILED(hr)) return hr;
  const Node* node = ValuesNode(view, root, key);
  if (!node) return Fail(REGDB_E_KEYMISSING, "no key " + std::string(key));
  const Value* value = FindValue(node, name, true);
  if (!value) {
    return Fail(REGDB_E_KEYMISSING,
                "no dword value \"" + std::string(name) + "\" in " + std::string(key));
  }
  *out = value->number;
  return Ok();
}

bool KeyExists(Root root, std::string_view key) {
  View view;
  if (FAILED(Load(&view))) return false;
  return ValuesNode(view, root, key) != nullptr;
}

HRESULT ListSubkeys(Root root, std::string_view key, std::vector<std::string>* out) {
  if (!out) return Fail(E_POINTER, "no output given");
  View view;
  if (HRESULT hr = Load(&view); FAILED(hr)) return hr;
  const Node* user = FindKey(*view.user, root, key);
  const Node* system = FindKey(*view.system, root, key);
  if (!user && !system) return Fail(REGDB_E_KEYMISSING, "no key " + std::string(key));
  // Both files' subkeys, by folded name; the user's spelling first.
  std::map<std::string, std::string> names;
  for (const Node* node : {user, system}) {
    if (!node) continue;
    for (const auto& [folded, child] : node->subkeys) names.emplace(folded, child->name);
  }
  out->clear();
  for (auto& [folded, name] : names) out->push_back(std::move(name));
  return Ok();
}

HRESULT ListValues(Root root, std::string_view key, std::vector<std::string>* out) {
  if (!out) return Fail(E_POINTER, "no output given");
  View view;
  if (HRESULT hr = Load(&view); FAILED(hr)) return hr;
  const Node* node = ValuesNode(view, root, key);
  if (!node) return Fail(REGDB_E_KEYMISSING, "no key " + std::string(key));
  out->clear();
  for (const auto& [folded, value] : node->values) out->push_back(value.name);
  return Ok();
}

Edit& Edit::CreateKey(Root root, std::string key) {
  changes_.push_back({Change::kCreateKey, root, std::move(key), {}, {}, 0});
  return *this;
}

Edit& Edit::SetString(Root root, std::string key, std::string name, std::string value) {
  changes_.push_back(
      {Change::kSetString, root, std::move(key), std::move(name), std::move(value), 0});
  return *this;
}

Edit& Edit::SetDword(Root root, std::string key, std::string name, DWORD value) {
  changes_.push_back({Change::kSetDword, root, std::move(key), std::move(name), {}, value});
  return *this;
}

Edit& Edit::DeleteValue(Root root, std::string key, std::string name) {
  changes_.push_back({Change::kDeleteValue, root, std::move(key), std::move(name), {}, 0});
  return *this;
}

Edit& Edit::DeleteTree(Root root, std::string key) {
  changes_.push_back({Change::kDeleteTree, root, std::move(key), {}, {}, 0});
  return *this;
}

Edit& Edit::DeleteKeyIfEmpty(Root root, std::string key) {
  changes_.push_back({Change::kDeleteIfEmpty, root, std::move(key), {}, {}, 0});
  return *this;
}

HRESULT Edit::Commit() {
  std::vector<std::string_view> parts;
  for (const Change& c : changes_) {
    if (!SplitKey(c.key, &parts)) {
      return Fail(E_INVALIDARG, "bad key name \"" + c.key +
                                    "\" (empty components and control characters are not allowed)");
    }
  }
  if (changes_.empty()) return Ok();

  const std::string path = RegistryPath();
  std::string error;
  if (!MakeParents(path, &error)) return Fail(REGDB_E_WRITEREGDB, error);

  // Writers take the lock on a separate file, so the data file itself can be
  // replaced by rename while the lock is held.
  const std::string lock_path = path + ".lock";
  files::Lock lock(lock_path, /*create=*/true);
  if (!lock.Held()) {
    return Fail(REGDB_E_WRITEREGDB, "cannot lock " + lock_path + ": " + ErrnoText(lock.Error()));
  }

  // The content as it is now, under the lock: changes of other writers stay.
  std::string current;
  mode_t mode = 0600;
  {
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() >= 0) {
      struct stat st;
      int err = 0;
      if (fstat(fd.get(), &st) != 0 || !ReadAll(fd.get(), &current, &err)) {
        return Fail(REGDB_E_READREGDB, "cannot read " + path + ": " + ErrnoText(err ? err : errno));
      }
      mode = st.st_mode & 07777;
    } else if (errno != ENOENT) {
      return Fail(REGDB_E_READREGDB, "cannot read " + path + ": " + ErrnoText(errno));
    }
  }
  Tree tree;
  if (!Parse(current, path, &tree, &error)) return Fail(REGDB_E_READREGDB, error);
  for (const Change& c : changes_) ApplyChange(&tree, c);
  std::string text = Serialize(tree);
  if (text == current) return Ok();

  // A writer killed earlier may have left its temporary file; under the lock
  // it is ours to replace.
  if (int err = files::ReplaceFile(path, text, mode, path + ".tmp")) {
    return Fail(REGDB_E_WRITEREGDB, "cannot write " + path + ": " + ErrnoText(err));
  }
  return Ok();
}

std::string LastError() {
  return g_last_error;
}

}  // namespace reg
