// SPDX-License-Identifier: LGPL-2.1-or-later
// The Mork syntax read here (values are bytes up to an unescaped ")", where
// "\" quotes the next byte, "\" before a line end continues the line, and
// "$" with two hex digits is a byte):
//
//   dict   = "<" ( "<" cell* ">" | "(" hex "=" value ")" )* ">"
//            a meta cell "(a=c)" makes it a dictionary of column names,
//            else of values (atoms)
//   table  = "{" "-"? mid ( "{" ... "}" | row | "-" | hex ("!" hex)? )* "}"
//   row    = "[" "-"? mid ( "[" cell* "]" | cell | "-" )* "]"
//   cell   = "(" ( "^" hex | name ) ( "=" value | "^" hex ) ")"
//   mid    = hex ( ":" ( "^" hex | name ) )?     the id and its scope
//   group  = "@$${" hex "{@" ... ( "@$$}" hex "}@" | "@$$}~~}@" aborted )
//
// A row without a scope of its own takes its table's. "//" comments run to
// the end of the line.
#include "platform/store/thunderbird/mork_folder_info.h"

#include <cctype>
#include <unordered_map>

namespace store::mork {
namespace {

constexpr std::string_view kFolderInfoScope = "ns:msg:db:row:scope:dbfolderinfo:all";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

struct Value {
  std::string_view raw;  // escaped as in the file, or an atom's id in hex
  bool reference = false;
};

class Parser {
 public:
  explicit Parser(std::string_view s) : s_(s) {}

  bool Run();
  std::optional<std::map<std::string, std::string>> Result() const;

 private:
  bool AtEnd() { return i_ >= s_.size(); }
  bool Peek(char c) { return i_ < s_.size() && s_[i_] == c; }
  bool Eat(char c) {
    if (!Peek(c)) return false;
    ++i_;
    return true;
  }
  bool EatText(std::string_view text) {
    if (s_.substr(i_, text.size()) != text) return false;
    i_ += text.size();
    return true;
  }
  void SkipSpace();
  bool Hex(std::uint64_t* out);
  bool Name(std::string_view* out);
  bool RawValue(std::string_view* out);
  bool Mid(std::string_view* scope);
  bool Dict();
  bool Table();
  bool Row(std::string_view tableScope);
  bool Cell(bool keep);
  bool Group();

  std::string_view s_;
  std::size_t i_ = 0;
  std::unordered_map<std::uint64_t, std::string_view> atoms_, columns_;
  std::map<std::string, Value> info_;  // the folder-information row
  std::map<std::string, Value> beforeGroup_;
  bool found_ = false, foundBeforeGroup_ = false;
};

std::string Unescape(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (std::size_t k = 0; k < raw.size(); ++k) {
    if (raw[k] == '\\' && k + 1 < raw.size()) {
      const char next = raw[++k];
      if (next == '\r' || next == '\n') {  // a continued line
        if (k + 1 < raw.size() && raw[k + 1] != next && (raw[k + 1] == '\r' || raw[k + 1] == '\n'))
          ++k;
        continue;
      }
      out += next;
    } else if (raw[k] == '$' && k + 2 < raw.size() && HexDigit(raw[k + 1]) >= 0 &&
               HexDigit(raw[k + 2]) >= 0) {
      out += static_cast<char>(HexDigit(raw[k + 1]) * 16 + HexDigit(raw[k + 2]));
      k += 2;
    } else {
      out += raw[k];
    }
  }
  return out;
}

void Parser::SkipSpace() {
  while (!AtEnd()) {
    const char c = s_[i_];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\b' || c == 0x7F) {
      ++i_;
    } else if (c == '\\' && i_ + 1 < s_.size() && (s_[i_ + 1] == '\n' || s_[i_ + 1] == '\r')) {
      i_ += 2;
    } else if (c == '/' && i_ + 1 < s_.size() && s_[i_ + 1] == '/') {
      const std::size_t eol = s_.find('\n', i_);
      i_ = eol == std::string_view::npos ? s_.size() : eol + 1;
    } else {
      return;
    }
  }
}

bool Parser::Hex(std::uint64_t* out) {
  std::uint64_t value = 0;
  std::size_t digits = 0;
  while (!AtEnd()) {
    const int d = HexDigit(s_[i_]);
    if (d < 0) break;
    if (++digits > 16) return false;
    value = value << 4 | static_cast<std::uint64_t>(d);
    ++i_;
  }
  *out = value;
  return digits > 0;
}

bool Parser::Name(std::string_view* out) {
  const std::size_t start = i_;
  auto first = [](char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '?' || c == ':';
  };
  if (AtEnd() || !first(s_[i_])) return false;
  while (!AtEnd() && (first(s_[i_]) || std::isdigit(static_cast<unsigned char>(s_[i_])) ||
                      s_[i_] == '+' || s_[i_] == '-' || s_[i_] == '.' || s_[i_] == '!'))
    ++i_;
  *out = s_.substr(start, i_ - start);
  return true;
}

bool Parser::RawValue(std::string_view* out) {
  const std::size_t start = i_;
  while (!AtEnd() && s_[i_] != ')') i_ += s_[i_] == '\\' ? 2 : 1;
  if (i_ >= s_.size()) return false;
  *out = s_.substr(start, i_ - start);
  return true;
}

bool Parser::Mid(std::string_view* scope) {
  std::uint64_t id = 0;
  *scope = {};
  if (!Hex(&id)) return false;
  if (!Eat(':')) return true;
  if (Eat('^')) {
    std::uint64_t ref = 0;
    if (!Hex(&ref)) return false;
    auto it = columns_.find(ref);
    if (it != columns_.end()) *scope = it->second;
    return true;
  }
  return Name(scope);
}

bool Parser::Cell(bool keep) {
  // At "(": a column by reference or by name, then a value or a reference.
  ++i_;
  std::string_view column;
  if (Eat('^')) {
    std::uint64_t ref = 0;
    if (!Hex(&ref)) return false;
    auto it = columns_.find(ref);
    if (it != columns_.end()) column = it->second;
  } else if (!Name(&column)) {
    return false;
  }
  Value value;
  if (Eat('^')) {
    const std::size_t start = i_;
    std::uint64_t ref = 0;
    if (!Hex(&ref)) return false;
    value = {s_.substr(start, i_ - start), true};
    // A reference may name its scope ("(k^BF:c)" in a table's meta cells).
    std::string_view scope;
    if (Eat(':') && !Name(&scope)) return false;
  } else if (Eat('=')) {
    if (!RawValue(&value.raw)) return false;
  } else {
    return false;
  }
  if (!Eat(')')) return false;
  if (keep && !column.empty()) info_[Unescape(column)] = value;
  return true;
}

bool Parser::Dict() {
  ++i_;  // "<"
  bool columns = false;
  while (true) {
    SkipSpace();
    if (Eat('>')) return true;
    if (Eat('<')) {  // meta: "(a=c)" names a dictionary of columns
      while (true) {
        SkipSpace();
        if (Eat('>')) break;
        if (!Peek('(')) return false;
        ++i_;
        std::string_view cell;
        if (!RawValue(&cell)) return false;
        ++i_;
        if (cell == "a=c") columns = true;
      }
      continue;
    }
    if (!Eat('(')) return false;
    std::uint64_t id = 0;
    std::string_view raw;
    if (!Hex(&id) || !Eat('=') || !RawValue(&raw)) return false;
    ++i_;
    (columns ? columns_ : atoms_)[id] = raw;
  }
}

bool Parser::Row(std::string_view tableScope) {
  ++i_;  // "["
  SkipSpace();
  const bool cut = Eat('-');
  SkipSpace();
  std::string_view scope;
  if (!Mid(&scope)) return false;
  if (scope.empty()) scope = tableScope;
  const bool keep = Unescape(scope) == kFolderInfoScope;
  if (keep) {
    if (cut) info_.clear();
    found_ = true;
  }
  while (true) {
    SkipSpace();
    if (AtEnd()) return false;
    if (Eat(']')) return true;
    if (Eat('-')) continue;
    if (Eat('[')) {  // meta-row: cells about the row, not of it
      while (true) {
        SkipSpace();
        if (Eat(']')) break;
        if (!Peek('(') || !Cell(false)) return false;
      }
      continue;
    }
    if (!Peek('(') || !Cell(keep)) return false;
  }
}

bool Parser::Table() {
  ++i_;  // "{"
  SkipSpace();
  Eat('-');
  SkipSpace();
  std::string_view scope;
  if (!Mid(&scope)) return false;
  while (true) {
    SkipSpace();
    if (AtEnd()) return false;
    if (Eat('}')) return true;
    if (Eat('-')) continue;
    if (Peek('[')) {
      if (!Row(scope)) return false;
    } else if (Eat('{')) {  // meta-table: cells and row references
      while (true) {
        SkipSpace();
        if (AtEnd()) return false;
        if (Eat('}')) break;
        if (Peek('(')) {
          if (!Cell(false)) return false;
        } else if (Peek('[')) {
          if (!Row(scope)) return false;
        } else {
          std::string_view ignored;
          if (!Mid(&ignored)) return false;
        }
      }
    } else {  // a row by reference: id, scope, and an optional "!" priority
      std::string_view ignored;
      if (!Mid(&ignored)) return false;
      if (Eat('!')) {
        std::uint64_t priority = 0;
        if (!Hex(&priority)) return false;
      }
    }
  }
}

bool Parser::Group() {
  if (EatText("@$${")) {
    std::uint64_t id = 0;
    if (!Hex(&id) || !EatText("{@")) return false;
    beforeGroup_ = info_;
    foundBeforeGroup_ = found_;
    return true;
  }
  if (EatText("@$$}~~}@")) {  // aborted: its updates never happened
    info_ = beforeGroup_;
    found_ = foundBeforeGroup_;
    return true;
  }
  if (EatText("@$$}")) {
    std::uint64_t id = 0;
    return Hex(&id) && EatText("}@");
  }
  return false;
}

bool Parser::Run() {
  SkipSpace();
  while (!AtEnd()) {
    bool ok = false;
    switch (s_[i_]) {
      case '<':
        ok = Dict();
        break;
      case '{':
        ok = Table();
        break;
      case '[':
        ok = Row({});
        break;
      case '@':
        ok = Group();
        break;
      default:
        break;
    }
    if (!ok) return false;
    SkipSpace();
  }
  return true;
}

std::optional<std::map<std::string, std::string>> Parser::Result() const {
  if (!found_) return std::nullopt;
  std::map<std::string, std::string> cells;
  for (const auto& [column, value] : info_) {
    if (!value.reference) {
      cells[column] = Unescape(value.raw);
      continue;
    }
    std::uint64_t id = 0;
    for (char c : value.raw) id = id << 4 | static_cast<std::uint64_t>(HexDigit(c));
    auto it = atoms_.find(id);
    if (it != atoms_.end()) cells[column] = Unescape(it->second);
  }
  return cells;
}

}  // namespace

std::optional<std::map<std::string, std::string>> ReadFolderInfo(std::string_view file) {
  // A Mork file names its format on its first line.
  if (file.substr(0, 64).find("<mdb:mork:z") == std::string_view::npos) return std::nullopt;
  Parser parser(file);
  if (!parser.Run()) return std::nullopt;
  return parser.Result();
}

std::optional<std::uint32_t> FolderMessageCount(std::string_view file) {
  const auto info = ReadFolderInfo(file);
  if (!info) return std::nullopt;
  const auto it = info->find("numMsgs");
  if (it == info->end() || it->second.empty() || it->second.size() > 8) return std::nullopt;
  std::uint32_t count = 0;
  for (char c : it->second) {
    const int d = HexDigit(c);
    if (d < 0) return std::nullopt;
    count = count << 4 | static_cast<std::uint32_t>(d);
  }
  return count;
}

}  // namespace store::mork
