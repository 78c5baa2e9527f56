// Cards as phones and older programs export them, read through WABOpen:
// charsets, line ends, byte-order marks and UTF-16; deletes that keep every
// other card's bytes; and the lines the vCard library mishandles.
#include <algorithm>

#include "platform/wab/testing/real_world_cards.h"
#include "platform/wab/vcard_mapping.h"
#include "platform/wab/wab_test_util.h"

namespace {

using namespace wabtest;

void ExpectFields(const Row& row, const CardShape& shape) {
  for (const Field& field : shape.fields) {
    auto it = row.props.find(PROP_ID(field.tag));
    ASSERT_NE(it, row.props.end()) << std::hex << field.tag;
    EXPECT_EQ(it->second, field.text) << std::hex << field.tag;
  }
  EXPECT_EQ(row.name, shape.fields[0].text);
}

// One file of every 8-bit shape (the byte-order mark first), then the UTF-16
// files, in file-name order.
TEST(WabCardShapes, EveryShapeReadsRightUnchangedAndADeleteKeepsTheOthersExactly) {
  std::vector<CardShape> shapes = RealWorldShapes();
  std::stable_partition(shapes.begin(), shapes.end(),
                        [](const CardShape& s) { return s.bytes.rfind("\xEF\xBB\xBF", 0) == 0; });
  std::stable_partition(shapes.begin(), shapes.end(),
                        [](const CardShape& s) { return !s.unicodeFile; });
  TempDir dir;
  std::string file;
  std::vector<std::pair<std::string, std::string>> utf16;
  for (const CardShape& shape : shapes) {
    if (!shape.unicodeFile) file += shape.bytes;
    if (shape.unicodeFile)
      utf16.emplace_back(dir / (std::to_string(utf16.size() + 1) + ".vcf"), shape.bytes);
  }
  WriteFile(dir / "0-mixed.vcf", file);
  for (const auto& [path, bytes] : utf16) WriteFile(path, bytes);
  Book book(dir.path());
  std::vector<Row> rows = book.ReadAll();
  ASSERT_EQ(rows.size(), shapes.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(shapes[i].what);
    ExpectFields(rows[i], shapes[i]);
  }
  EXPECT_EQ(ReadFile(dir / "0-mixed.vcf"), file) << "reading changes no file";
  for (const auto& [path, bytes] : utf16) EXPECT_EQ(ReadFile(path), bytes);

  // Each delete takes exactly its card's bytes, whatever its line ends.
  std::vector<std::size_t> order{3, 2, 5, 1};
  for (std::size_t victim : order) {
    SCOPED_TRACE(shapes[victim].what);
    ASSERT_EQ(book.Delete(rows[victim].entryId), S_OK);
    std::size_t at = file.find(shapes[victim].bytes);
    ASSERT_NE(at, std::string::npos);
    file.erase(at, shapes[victim].bytes.size());
    EXPECT_EQ(ReadFile(dir / "0-mixed.vcf"), file);
  }
  EXPECT_EQ(book.ReadAll().size(), shapes.size() - order.size());
}

TEST(WabCardShapes, AUtf16BookDeletesAndCreatesInItsOwnEncoding) {
  auto card = [](const std::u16string& name) {
    return u"BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + name + u"\r\nEND:VCARD\r\n";
  };
  for (bool bigEndian : {false, true}) {
    SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
    TempDir dir;
    std::string path = dir / "book.vcf";
    WriteFile(path, Utf16Bytes(card(u"\u00C5sa") + card(u"B\u00F8rge"), bigEndian));
    Book book(path);
    std::vector<Row> rows = book.ReadAll();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].name, "B\xC3\xB8rge");
    ASSERT_EQ(book.Delete(rows[0].entryId), S_OK);
    EXPECT_EQ(ReadFile(path), Utf16Bytes(card(u"B\u00F8rge"), bigEndian));
    ASSERT_EQ(book.Create({{PR_DISPLAY_NAME, "\xC3\x89mile"}}), S_OK);
    rows = book.ReadAll();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].name, "\xC3\x89mile");
    EXPECT_EQ(ReadFile(path).rfind(bigEndian ? "\xFE\xFF" : "\xFF\xFE", 0), 0u);
  }
}

// A vCard 2.1 base64 value may go on over lines that are not indented, up
// to an empty line. The library reads only the first of them, and loses
// memory on every line without a colon (seen under LeakSanitizer with
// G_SLICE=always-malloc), so these cards are read many times here.
TEST(WabCardShapes, LinesWithoutAColonNeitherLeakNorHideTheFieldsAfterThem) {
  std::string photo;
  for (int i = 0; i < 10; ++i) photo += std::string(76, 'Q') + "\r\n";
  const std::string cards[] = {
      "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:Pia Photo\r\nPHOTO;ENCODING=BASE64;TYPE=JPEG:" + photo +
          "\r\nEMAIL;INTERNET:pia@example.org\r\nEND:VCARD\r\n",
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:No Colon\r\nABCD\r\n\r\nEMAIL:nc@example.org\r\n"
      "END:VCARD\r\n"};
  for (int round = 0; round < 50; ++round) {
    for (const std::string& card : cards) {
      wab::Contact contact;
      ASSERT_TRUE(wab::ReadContact(card, &contact));
      ASSERT_NE(contact.Find(PR_EMAIL_ADDRESS), nullptr) << card;
    }
  }
}

}  // namespace
