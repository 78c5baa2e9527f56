// Cards in the shapes phones and older programs export, with the fields each
// must read as: raw Shift_JIS whose last byte is 0x5C, Latin-1 and unknown
// charsets, undeclared Windows-1252, iOS CR CR LF and old CR-only line ends,
// a UTF-8 byte-order mark, UTF-16 files. Shared by the engine's tests and the
// contact collection's.
#pragma once

#include <string>
#include <vector>

#include "platform/wab/wab.h"

namespace wabtest {

struct Field {
  ULONG tag;
  std::string text;  // UTF-8
};

struct CardShape {
  const char* what;
  std::string bytes;  // the file as stored
  std::vector<Field> fields;
  bool unicodeFile = false;  // UTF-16: not to be joined with the others
};

// UTF-16 bytes of text made of code units given as char16_t.
inline std::string Utf16Bytes(const std::u16string& text, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t unit : text) {
    char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    out += bigEndian ? std::string{high, low} : std::string{low, high};
  }
  return out;
}

inline std::vector<CardShape> RealWorldShapes() {
  const std::u16string utf16 =
      u"BEGIN:VCARD\r\nVERSION:3.0\r\nFN:\u014Cno Hiroshi\r\nN:\u014Cno;Hiroshi;;;\r\n"
      u"EMAIL;TYPE=INTERNET:ono@example.jp\r\nTEL;TYPE=WORK:+81 3 0000\r\nEND:VCARD\r\n";
  const std::string ono = "\xC5\x8Cno Hiroshi";
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
      {"UTF-16 little-endian",
       Utf16Bytes(utf16, false),
       {{PR_DISPLAY_NAME, ono},
        {PR_EMAIL_ADDRESS, "ono@example.jp"},
        {PR_BUSINESS_TELEPHONE_NUMBER, "+81 3 0000"}},
       true},
      {"UTF-16 big-endian",
       Utf16Bytes(utf16, true),
       {{PR_DISPLAY_NAME, ono}, {PR_SURNAME, "\xC5\x8Cno"}, {PR_EMAIL_ADDRESS, "ono@example.jp"}},
       true},
  };
}

}  // namespace wabtest
