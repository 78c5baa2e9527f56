// SPDX-License-Identifier: LGPL-2.1-or-later
#include <gtest/gtest.h>

#include <cstring>

#include "platform/com/bstr.h"
#include "platform/com/dispatch.h"
#include "platform/com/guid.h"

TEST(Bstr, KeepsLengthPrefixEmbeddedNulsAndTerminator) {
  const char16_t text[] = u"a\0b";
  BSTR b = SysAllocStringLen(text, 3);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 3u);
  EXPECT_EQ(SysStringByteLen(b), 6u);
  EXPECT_EQ(b[1], u'\0');
  EXPECT_EQ(b[3], u'\0');
  std::uint32_t prefix;
  std::memcpy(&prefix, reinterpret_cast<char*>(b) - 4, 4);
  EXPECT_EQ(prefix, 6u);
  SysFreeString(b);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
}

TEST(Bstr, ConversionNeverFailsOnBadInput) {
  EXPECT_EQ(com::Utf8ToUtf16("\xff"
                             "a\xe2\x82"),
            u"\uFFFDa\uFFFD\uFFFD");
  EXPECT_EQ(com::Utf8ToUtf16("\xed\xa0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
  EXPECT_EQ(com::Utf16ToUtf8(u"x\xD800y"), "x\xEF\xBF\xBDy");
  EXPECT_EQ(com::Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
  com::Bstr round("Grüße \xF0\x9F\x98\x80");
  EXPECT_EQ(round.Utf8(), "Grüße \xF0\x9F\x98\x80");
}

TEST(Guid, ParsesAndPrintsTheBracedForm) {
  constexpr GUID g = com::Guid("{e70c92a9-4bfd-11d1-8a95-00c04fb951f3}");
  EXPECT_EQ(com::GuidToString(g), "{E70C92A9-4BFD-11D1-8A95-00C04FB951F3}");
  EXPECT_EQ(com::ParseGuid("E70C92A9-4BFD-11D1-8A95-00C04FB951F3"), g);
  EXPECT_FALSE(com::ParseGuid("{E70C92A9-4BFD-11D1-8A95-00C04FB951F}"));
  EXPECT_FALSE(com::ParseGuid("{E70C92A9+4BFD-11D1-8A95-00C04FB951F3}"));
  EXPECT_FALSE(com::ParseGuid("{G70C92A9-4BFD-11D1-8A95-00C04FB951F3}"));
}
