// SPDX-License-Identifier: LGPL-2.1-or-later
// An ordered list of shared records, as the folder and message collections
// keep them. Records are reference-counted automation objects: emptying the
// list drops the list's references, and a record a client still holds lives
// on until the client lets it go.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/com/unknown.h"
#include "platform/com/variant.h"

namespace mq {

template <class Record>
class RecordList {
 public:
  using Records = std::vector<com::ComPtr<Record>>;

  // Destroys the list's references and starts a new generation, so a holder
  // of a position (an enumerator) can tell that the list it walked is gone.
  void Clear() {
    records_.clear();
    ++generation_;
  }
  void Append(com::ComPtr<Record> record) { records_.push_back(std::move(record)); }

  // The record at a zero-based position; null for a position below 0 or at
  // or beyond the end.
  Record* At(std::int64_t position) const {
    if (position < 0 || position >= static_cast<std::int64_t>(records_.size())) return nullptr;
    return records_[static_cast<std::size_t>(position)].Get();
  }
  std::size_t Size() const { return records_.size(); }
  const Records& All() const { return records_; }
  std::uint64_t Generation() const { return generation_; }

 private:
  Records records_;
  std::uint64_t generation_ = 0;
};

// The record that an automation `Item(Key)` names: for a string key, the first
// record whose `text(record)` equals it exactly; for any other key, the key
// converted to a 32-bit integer counting from 1. Null when there is none (a
// key that does not convert names none).
template <class Record, class TextOf>
Record* FindByKey(const RecordList<Record>& list, const VARIANT& key, TextOf text) {
  com::Variant value;
  if (FAILED(VariantCopyInd(&value, &key))) return nullptr;
  if (value.vt == VT_BSTR) {
    const std::string wanted = com::Utf8FromBstr(value.bstrVal);
    for (const auto& record : list.All())
      if (text(*record) == wanted) return record.Get();
    return nullptr;
  }
  if (FAILED(VariantChangeType(&value, &value, 0, VT_I4))) return nullptr;
  return list.At(static_cast<std::int64_t>(value.lVal) - 1);
}

}  // namespace mq
