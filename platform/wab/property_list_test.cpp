// SPDX-License-Identifier: LGPL-2.1-or-later
// A block of properties read from outside (the card cache) is taken only when
// every record stays within the bytes given and keeps a contact's rules.
#include "platform/wab/property_list.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/wab/property_tags.h"

namespace {

using wab::OwnedProperty;
using wab::PropertyList;

TEST(PropertyList, ABlockReadsBackAsPackedAndABrokenOneIsRefused) {
  const std::vector<OwnedProperty> owned = {
      {PR_DISPLAY_NAME, "Ann"}, {PR_EMAIL_ADDRESS, ""}, {PR_BIRTHDAY, "1980-01-02", 42}};
  std::string block;
  PropertyList::Pack(owned, &block);
  PropertyList list;
  std::size_t used = 0;
  const std::string followed = block + "after";
  ASSERT_TRUE(list.View(followed, 3, &used));
  EXPECT_EQ(used, block.size());
  EXPECT_EQ(list.Block(), block);
  EXPECT_EQ(list.Block().data(), followed.data());
  ASSERT_EQ(list.size(), 3u);
  for (std::size_t i = 0; i < owned.size(); ++i) {
    EXPECT_EQ(list[i].tag, owned[i].tag);
    EXPECT_EQ(list[i].text, owned[i].text);
    EXPECT_EQ(list[i].time, owned[i].time);
  }

  // Record i's tag is at 8 i, its end at 8 i + 4.
  auto with = [&](std::size_t offset, std::uint32_t value) {
    std::string changed = block;
    std::memcpy(changed.data() + offset, &value, sizeof value);
    return changed;
  };
  const struct {
    const char* what;
    std::string bytes;
    std::uint32_t count;
  } broken[] = {
      {"cut in the texts", block.substr(0, block.size() - 1), 3},
      {"cut in the records", block.substr(0, 20), 3},
      {"more records than bytes", block, 0xFFFFFFFF},
      {"tags out of order", with(8, PR_DISPLAY_NAME - 0x10000), 3},
      {"a tag twice", with(8, PR_DISPLAY_NAME), 3},
      {"neither text nor time", with(0, CHANGE_PROP_TYPE(PR_DISPLAY_NAME, PT_LONG)), 3},
      {"an end going back", with(12, 2), 3},
      {"an end past the bytes", with(20, 1 << 20), 3},
      {"a time cut short", with(20, 3 + 7), 3},
  };
  for (const auto& c : broken) {
    EXPECT_FALSE(list.View(c.bytes, c.count, &used)) << c.what;
    EXPECT_TRUE(list.empty()) << c.what;
  }
}

}  // namespace
