// SPDX-License-Identifier: LGPL-2.1-or-later
// A contact's properties packed in one block and read where they lie: the
// block is the same bytes in memory as in the card cache, so a contact read
// from the cache is a view of the cache's bytes, with nothing decoded or
// allocated per property.
//
// The block: `count` records of two 32-bit values in this machine's layout,
// the tag and the end of the property's bytes within the texts that follow
// (each property's bytes start where the one before ends). A text
// property's bytes are its text; a PT_SYSTIME property's are its time (8
// bytes) and then its text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/types.h"
#include "platform/wab/property_tags.h"

namespace wab {

// One mapped property: text for string tags, `time` for PT_SYSTIME tags
// (100-ns intervals since 1601-01-01, as FILETIME counts). The text is a view
// of texts that its contact keeps (Contact::texts).
struct MappedProperty {
  ULONG tag;
  std::string_view text;
  LONGLONG time = 0;
};

// A property with a text of its own, as a contact is built from.
struct OwnedProperty {
  ULONG tag;
  std::string text;
  LONGLONG time = 0;
};

class PropertyList {
 public:
  static constexpr std::size_t kRecordBytes = 8;
  static constexpr std::size_t kTimeBytes = 8;

  PropertyList() = default;

  // Appends the block of `owned` (in its order) to `out`.
  static void Pack(const std::vector<OwnedProperty>& owned, std::string* out);
  // A view of a block that Pack made of `count` properties.
  static PropertyList OfPacked(const char* block, std::uint32_t count);
  // A view of a block of `count` records at the start of `bytes`, read from
  // outside; false (and the list left empty) when the block does not fit in
  // `bytes` or breaks the rules that a contact read from a card keeps: only
  // text and time tags, each at most once, in ascending order, ends that
  // never go back, times whole. `used` is set to the block's size.
  bool View(std::string_view bytes, std::uint32_t count, std::size_t* used);

  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  MappedProperty operator[](std::size_t i) const {
    MappedProperty p{Tag(i), {}, 0};
    const std::uint32_t start = i ? End(i - 1) : 0;
    const char* bytes = texts_ + start;
    std::size_t size = End(i) - start;
    if (PROP_TYPE(p.tag) == PT_SYSTIME) {
      std::memcpy(&p.time, bytes, kTimeBytes);
      bytes += kTimeBytes;
      size -= kTimeBytes;
    }
    p.text = std::string_view(bytes, size);
    return p;
  }
  ULONG Tag(std::size_t i) const { return Load32(i * kRecordBytes); }
  // The block's bytes (records, then texts), as Pack makes them.
  std::string_view Block() const;

  class Iterator {
   public:
    using value_type = MappedProperty;
    using difference_type = std::ptrdiff_t;
    Iterator() = default;
    Iterator(const PropertyList* list, std::size_t at) : list_(list), at_(at) {}
    MappedProperty operator*() const { return (*list_)[at_]; }
    Iterator& operator++() {
      ++at_;
      return *this;
    }
    Iterator operator++(int) {
      Iterator before = *this;
      ++at_;
      return before;
    }
    bool operator==(const Iterator& other) const { return at_ == other.at_; }

   private:
    const PropertyList* list_ = nullptr;
    std::size_t at_ = 0;
  };
  Iterator begin() const { return {this, 0}; }
  Iterator end() const { return {this, count_}; }

 private:
  std::uint32_t Load32(std::size_t offset) const {
    std::uint32_t v;
    std::memcpy(&v, records_ + offset, sizeof v);
    return v;
  }
  std::uint32_t End(std::size_t i) const { return Load32(i * kRecordBytes + 4); }

  const char* records_ = nullptr;
  const char* texts_ = nullptr;
  std::uint32_t count_ = 0;
};

}  // namespace wab
