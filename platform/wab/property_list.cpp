// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/wab/property_list.h"

namespace wab {

void PropertyList::Pack(const std::vector<OwnedProperty>& owned, std::string* out) {
  std::size_t texts = 0;
  for (const OwnedProperty& p : owned)
    texts += p.text.size() + (PROP_TYPE(p.tag) == PT_SYSTIME ? kTimeBytes : 0);
  out->reserve(out->size() + owned.size() * kRecordBytes + texts);
  std::uint32_t end = 0;
  for (const OwnedProperty& p : owned) {
    end += static_cast<std::uint32_t>(p.text.size() +
                                      (PROP_TYPE(p.tag) == PT_SYSTIME ? kTimeBytes : 0));
    const std::uint32_t record[2] = {p.tag, end};
    out->append(reinterpret_cast<const char*>(record), sizeof record);
  }
  for (const OwnedProperty& p : owned) {
    if (PROP_TYPE(p.tag) == PT_SYSTIME)
      out->append(reinterpret_cast<const char*>(&p.time), sizeof p.time);
    out->append(p.text);
  }
}

PropertyList PropertyList::OfPacked(const char* block, std::uint32_t count) {
  PropertyList list;
  list.records_ = block;
  list.texts_ = block + std::size_t{count} * kRecordBytes;
  list.count_ = count;
  return list;
}

bool PropertyList::View(std::string_view bytes, std::uint32_t count, std::size_t* used) {
  *this = PropertyList();
  *used = 0;
  if (count > bytes.size() / kRecordBytes) return false;
  const PropertyList list = OfPacked(bytes.data(), count);
  const std::size_t room = bytes.size() - std::size_t{count} * kRecordBytes;
  std::uint32_t start = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const ULONG tag = list.Load32(i * kRecordBytes);
    const ULONG type = PROP_TYPE(tag);
    const std::uint32_t end = list.End(i);
    if ((type != PT_STRING8 && type != PT_SYSTIME) ||
        (i > 0 && list.Load32((i - 1) * kRecordBytes) >= tag) || end < start || end > room ||
        (type == PT_SYSTIME && end - start < kTimeBytes))
      return false;
    start = end;
  }
  *this = list;
  *used = std::size_t{count} * kRecordBytes + start;
  return true;
}

std::string_view PropertyList::Block() const {
  if (!count_) return {};
  return std::string_view(records_, std::size_t{count_} * kRecordBytes + End(count_ - 1));
}

}  // namespace wab
