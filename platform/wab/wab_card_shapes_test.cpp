// SPDX-License-Identifier: LGPL-2.1-or-later
// Cards as phones and older programs export them, read through WABOpen:
// raw Shift_JIS whose last byte is 0x5C, Latin-1 and unknown charsets,
// undeclared Windows-1252, iOS CR CR LF and old CR-only line ends, a UTF-8
// byte-order mark, UTF-16 books in either byte order; deletes that keep every
// other card's bytes; and the lines the vCard library mishandles.
#include <algorithm>

#include "platform/wab/vcard_mapping.h"
#include "platform/wab/wab_test_util.h"

namespace {

using namespace wabtest;

struct Field {
  ULONG tag;
  std::string text;  // UTF-8
};

struct CardShape {
  const char* what;
  std::string bytes;  // the file as stored
  std::vector<Field> fields;
};

// UTF-16 bytes of text made of code units given as char16_t.
std::string Utf16Bytes(const std::u16string& text, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t unit : text) {
    char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    out += bigEndian ? std::string{high, low} : std::string{low, high};
  }
  return out;
}

std::vector<CardShape> RealWorldShapes() {
  return {
      // The FN value ends in 0x95 0x5C ("表"): not a backslash before the line
      // break, so N survives.
      {"raw Shift_JIS, LF",
       "BEGIN:VCARD\nVERSION:2.1\n"
       "FN;CHARSET=SHIFT_JIS:\x88\xC0\x93\xA1 \x83\x8D\x83\x43\x83\x68 \x95\x5C\n"
       "N;CHARSET=SHIFT_JIS:\x88\xC0\x93\xA1;\x83\x8D\x83\x43\x83\x68 \x95\x5C\n"
       "ORG;CHARSET=SHIFT_JIS:\x83\x5C\x83\x74\x83\x67\x8A\x4A\x94\xAD;\x89\x63\x8B\xC6\x95\x94\n"
       "TEL;CELL:090-1234-5678\nEMAIL;INTERNET:ando@example.jp\nEND:VCARD\n",
       {{PR_DISPLAY_NAME,
         "\xE5\xAE\x89\xE8\x97\xA4 \xE3\x83\xAD\xE3\x82\xA4\xE3\x83\x89 \xE8\xA1\xA8"},
        {PR_SURNAME, "\xE5\xAE\x89\xE8\x97\xA4"},
        {PR_GIVEN_NAME, "\xE3\x83\xAD\xE3\x82\xA4\xE3\x83\x89 \xE8\xA1\xA8"},
        {PR_COMPANY_NAME, "\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88\xE9\x96\x8B\xE7\x99\xBA"},
        {PR_DEPARTMENT_NAME, "\xE5\x96\xB6\xE6\xA5\xAD\xE9\x83\xA8"},
        {PR_CELLULAR_TELEPHONE_NUMBER, "090-1234-5678"},
        {PR_EMAIL_ADDRESS, "ando@example.jp"}}},
      {"raw ISO-8859-1 with its charset",
       "BEGIN:VCARD\r\nVERSION:2.1\r\nFN;CHARSET=ISO-8859-1:J\xFCrgen M\xFCller\r\n"
       "N;CHARSET=ISO-8859-1:M\xFCller;J\xFCrgen\r\n"
       "ADR;WORK;CHARSET=ISO-8859-1:;;Hauptstra\xDF\x65 1;K\xF6ln;;50667;Deutschland\r\n"
       "EMAIL;INTERNET:jm@example.de\r\nEND:VCARD\r\n",
       {{PR_DISPLAY_NAME, "J\xC3\xBCrgen M\xC3\xBCller"},
        {PR_SURNAME, "M\xC3\xBCller"},
        {PR_STREET_ADDRESS, "Hauptstra\xC3\x9F\x65 1"},
        {PR_LOCALITY, "K\xC3\xB6ln"},
        {PR_EMAIL_ADDRESS, "jm@example.de"}}},
      // iOS ends lines with CR CR LF.
      {"CR CR LF",
       "BEGIN:VCARD\r\r\nVERSION:3.0\r\r\nN:Appleseed;Johnny;;;\r\r\nFN:Johnny Appleseed\r\r\n"
       "item1.EMAIL;type=INTERNET;type=pref:johnny@example.com\r\r\n"
       "TEL;type=CELL;type=VOICE;type=pref:+1 555 0142\r\r\nORG:Fruit;Orchard\r\r\n"
       "END:VCARD\r\r\n",
       {{PR_DISPLAY_NAME, "Johnny Appleseed"},
        {PR_GIVEN_NAME, "Johnny"},
        {PR_EMAIL_ADDRESS, "johnny@example.com"},
        {PR_CELLULAR_TELEPHONE_NUMBER, "+1 555 0142"},
        {PR_COMPANY_NAME, "Fruit"},
        {PR_DEPARTMENT_NAME, "Orchard"}}},
      // No charset and not UTF-8: Windows-1252 (0x96 is an en dash there).
      {"Windows-1252 without a charset",
       "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:S\xF6ren T\xE4ve N\xFC\xDFlebaum\r\n"
       "TITLE:Gesch\xE4\x66tsf\xFChrer \x96 Vertrieb\r\nEMAIL;PREF;INTERNET:soeren@example.dk\r\n"
       "TEL;WORK;VOICE:+45 1234\r\nEND:VCARD\r\n",
       {{PR_DISPLAY_NAME, "S\xC3\xB6ren T\xC3\xA4ve N\xC3\xBC\xC3\x9Flebaum"},
        {PR_TITLE, "Gesch\xC3\xA4\x66tsf\xC3\xBChrer \xE2\x80\x93 Vertrieb"},
        {PR_EMAIL_ADDRESS, "soeren@example.dk"},
        {PR_BUSINESS_TELEPHONE_NUMBER, "+45 1234"}}},
      // Labelled ISO-8859-1, written in Windows-1252: the quotes and the dash are
      // 0x93, 0x94 and 0x96, controls in Latin-1.
      {"Windows-1252 under a Latin-1 label",
       "BEGIN:VCARD\r\nVERSION:2.1\r\nFN;CHARSET=ISO-8859-1:\x93Z\xFCri\x94 \x96 B\xFCro\r\n"
       "EMAIL;INTERNET:zh@example.ch\r\nEND:VCARD\r\n",
       {{PR_DISPLAY_NAME, "\u201CZ\u00FCri\u201D \u2013 B\u00FCro"},
        {PR_EMAIL_ADDRESS, "zh@example.ch"}}},
      {"CR only",
       "BEGIN:VCARD\rVERSION:3.0\rFN:Carla Old\rN:Old;Carla;;;\rEMAIL:carla@example.org\r"
       "TEL;TYPE=HOME:+1 555 0199\rEND:VCARD\r",
       {{PR_DISPLAY_NAME, "Carla Old"},
        {PR_SURNAME, "Old"},
        {PR_EMAIL_ADDRESS, "carla@example.org"},
        {PR_HOME_TELEPHONE_NUMBER, "+1 555 0199"}}},
      {"an unknown charset",
       "BEGIN:VCARD\r\nVERSION:2.1\r\nFN;CHARSET=X-NO-SUCH-CHARSET:Ren\xE9\x65 Dupr\xE9\r\n"
       "EMAIL;INTERNET:renee@example.fr\r\nEND:VCARD\r\n",
       {{PR_DISPLAY_NAME, "Ren\xC3\xA9\x65 Dupr\xC3\xA9"}, {PR_EMAIL_ADDRESS, "renee@example.fr"}}},
      {"a UTF-8 byte-order mark",
       "\xEF\xBB\xBF"
       "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Zo\xC3\xAB Mark\r\nEMAIL:zoe@example.org\r\n"
       "END:VCARD\r\n",
       {{PR_DISPLAY_NAME, "Zo\xC3\xAB Mark"}, {PR_EMAIL_ADDRESS, "zoe@example.org"}}},
  };
}

void ExpectFields(const Row& row, const CardShape& shape) {
  for (const Field& field : shape.fields) {
    auto it = row.props.find(PROP_ID(field.tag));
    ASSERT_NE(it, row.props.end()) << std::hex << field.tag;
    EXPECT_EQ(it->second, field.text) << std::hex << field.tag;
  }
  EXPECT_EQ(row.name, shape.fields[0].text);
}

// Every 8-bit shape in one file, the byte-order mark first. UTF-16 books are
// the next test's.
TEST(WabCardShapes, EveryShapeReadsRightUnchangedAndADeleteKeepsTheOthersExactly) {
  std::vector<CardShape> shapes = RealWorldShapes();
  std::stable_partition(shapes.begin(), shapes.end(),
                        [](const CardShape& s) { return s.bytes.rfind("\xEF\xBB\xBF", 0) == 0; });
  TempDir dir;
  std::string file;
  // Bytes between cards (an empty line some exporters write) stay too; not
  // after a CR-only card, where they would make a CR CR LF line end.
  for (const CardShape& shape : shapes)
    file += shape.bytes + (shape.bytes.back() == '\n' ? "\r\n" : "");
  WriteFile(dir / "0-mixed.vcf", file);
  Book book(dir.path());
  std::vector<Row> rows = book.ReadAll();
  ASSERT_EQ(rows.size(), shapes.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(shapes[i].what);
    ExpectFields(rows[i], shapes[i]);
  }
  EXPECT_EQ(ReadFile(dir / "0-mixed.vcf"), file) << "reading changes no file";

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

// Lines the vCard library mishandles, each card read many times under the
// sanitizers: it reads only the first of the unindented lines a vCard 2.1
// base64 value may go on over (up to an empty line), loses memory on every
// line without a colon and on malformed grouped names, also behind a lone CR
// or across a fold (seen under LeakSanitizer with G_SLICE=always-malloc), and
// reads past text that is not UTF-8. The field after such lines survives, and
// a grouped name with a stray byte is no URL.
TEST(WabCardShapes, LinesTheLibraryMishandlesNeitherLeakNorHideTheFieldsAfterThem) {
  std::string photo;
  for (int i = 0; i < 10; ++i) photo += std::string(76, 'Q') + "\r\n";
  const std::pair<std::string, Field> cards[] = {
      {"BEGIN:VCARD\r\nVERSION:2.1\r\nFN:Pia Photo\r\nPHOTO;ENCODING=BASE64;TYPE=JPEG:" + photo +
           "\r\nEMAIL;INTERNET:pia@example.org\r\nEND:VCARD\r\n",
       {PR_EMAIL_ADDRESS, "pia@example.org"}},
      {"BEGIN:VCARD\r\nVERSION:3.0\r\nFN:No Colon\r\nABCD\r\n\r\nEMAIL:nc@example.org\r\n"
       "END:VCARD\r\n",
       {PR_EMAIL_ADDRESS, "nc@example.org"}},
      {"BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Odd\r\nitem1.URL\xa5:x\r\nNOTE:a\rU.\r\n"
       "item2.:y\r\nitem3.TEL\r\nitem4\r\n .X!:z\r\n:no name\r\nEMAIL:odd@example.org\r\n"
       "END:VCARD\r\n",
       {PR_EMAIL_ADDRESS, "odd@example.org"}},
      // No charset (the parameter is misspelt): read as Windows-1252.
      {"BEGIN:VCARD\r\nVERSION:2.1\r\nFN;CHAVSET=X;ENCODING=QUOTED-PRINTABLE:Ren=E9e\r\n"
       "END:VCARD\r\n",
       {PR_DISPLAY_NAME, "Ren\xC3\xA9\x65"}}};
  for (int round = 0; round < 50; ++round) {
    for (const auto& [card, field] : cards) {
      wab::Contact contact;
      ASSERT_TRUE(wab::ReadContact(card, &contact));
      ASSERT_EQ(contact.Find(field.tag), field.text) << card;
      ASSERT_FALSE(contact.Find(PR_PERSONAL_HOME_PAGE)) << card;
    }
  }
}

}  // namespace
