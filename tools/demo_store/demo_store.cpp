// SPDX-License-Identifier: LGPL-2.1-or-later
// demo-store DIR [CONTACTS]: writes a small Maildir++ store to try the system
// on, and a demo address book (vCard files) in CONTACTS, by default the
// directory DIR-contacts beside it. With --mbox the same mail is written as
// Thunderbird keeps local folders: one mbox file per folder, subfolders in
// "<name>.sbd/", plus a message marked deleted and one whose body has lines
// starting "From " and ">From ".
//
// The mail is made up here, byte by byte, in the shapes that mail programs
// write: plain and HTML letters, attachments in every transfer encoding,
// inline images, forwarded messages, encoded and hostile file names. The
// output is the same on every run (fixed dates, names and contents).
#include <fcntl.h>
#include <gmime/gmime.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "tools/command_line.h"
#include "tools/demo_store/demo_contacts.h"

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------- contents

std::string Encode(const std::string& bytes, GMimeContentEncoding encoding) {
  GMimeEncoding state;
  g_mime_encoding_init_encode(&state, encoding);
  std::string out(g_mime_encoding_outlen(&state, bytes.size()) + 64, '\0');
  out.resize(g_mime_encoding_flush(&state, bytes.data(), bytes.size(), out.data()));
  return out;
}

std::string Base64(const std::string& bytes) {
  return Encode(bytes, GMIME_CONTENT_ENCODING_BASE64);
}
std::string QuotedPrintable(const std::string& text) {
  return Encode(text, GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);
}

// Deterministic filler bytes (a linear congruential sequence).
std::string Noise(std::size_t size, std::uint32_t seed) {
  std::string out(size, '\0');
  for (char& c : out) {
    seed = seed * 1664525u + 1013904223u;
    c = static_cast<char>(seed >> 24);
  }
  return out;
}

// A small PDF: a real header and trailer around binary stream bytes.
std::string Pdf(const std::string& title, std::size_t size, std::uint32_t seed) {
  return "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n1 0 obj\n<< /Title (" + title +
         ") >>\nendobj\n2 0 obj\n<< /Length " + std::to_string(size) + " >>\nstream\n" +
         Noise(size, seed) + "\nendstream\nendobj\ntrailer\n<< /Root 1 0 R >>\n%%EOF\n";
}

// A 1x1 PNG image (valid: signature, IHDR, IDAT and IEND with their CRCs).
std::string Png() {
  static const unsigned char kPng[] = {
      0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
      0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00,
      0x00, 0x1F, 0x15, 0xC4, 0x89, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x44, 0x41, 0x54, 0x78,
      0x9C, 0x63, 0xF8, 0xCF, 0xC0, 0xF0, 0x1F, 0x00, 0x05, 0x00, 0x01, 0xFF, 0x89, 0x99,
      0x3D, 0x1D, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
  return std::string(reinterpret_cast<const char*>(kPng), sizeof kPng);
}

// A GIF header with filler pixels: enough for a file type to be recognised.
std::string Gif(std::uint32_t seed) {
  return "GIF89a\x10\x00\x10\x00\x80\x00\x00" + Noise(120, seed);
}

std::string Jpeg(std::uint32_t seed) {
  return std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 20) +
         Noise(2048, seed) + "\xFF\xD9";
}

// ----------------------------------------------------------------- messages

struct Attachment {
  std::string type;         // "application/pdf"
  std::string params;       // "; name=\"a.pdf\"" (may be folded)
  std::string disposition;  // "attachment; filename=\"a.pdf\"" or empty
  std::string encoding;     // "base64", "quoted-printable", "x-uuencode", "7bit"
  std::string body;         // encoded text, ends in a newline
  std::string extra;        // further header lines, each ending in "\n"
};

Attachment Base64Part(const std::string& type, const std::string& name, const std::string& bytes,
                      bool inlined = false) {
  return {type,
          "; name=\"" + name + "\"",
          std::string(inlined ? "inline" : "attachment") + "; filename=\"" + name + "\"",
          "base64",
          Base64(bytes),
          ""};
}

struct Letter {
  std::string folder;  // "" for the Inbox, else ".Work" and so on
  bool read;
  std::string from, to, cc, subject;
  int day;              // days after the first message's date
  std::string headers;  // further header lines
  std::string content;  // Content-Type and the body, starting with the header lines
};

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kDays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};

// 2026-03-02 09:15:00 UTC plus `day` days and `minute` minutes.
std::int64_t When(int day, int minute) {
  return 1772442900LL + day * 86400LL + minute * 60LL + (day * 37 % 300) * 60LL;
}

std::string RfcDate(std::int64_t t) {
  std::int64_t days = t / 86400;
  int secs = static_cast<int>(t % 86400);
  // Civil date from days since 1970-01-01.
  std::int64_t z = days + 719468, era = z / 146097, doe = z - era * 146097;
  std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  std::int64_t y = yoe + era * 400, doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  std::int64_t mp = (5 * doy + 2) / 153, d = doy - (153 * mp + 2) / 5 + 1;
  std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %d %s %lld %02d:%02d:%02d +0000", kDays[days % 7],
                static_cast<int>(d), kMonths[m - 1], static_cast<long long>(y), secs / 3600,
                secs / 60 % 60, secs % 60);
  return text;
}

std::string Address(const std::string& full) {
  auto lt = full.find('<');
  return lt == std::string::npos ? full : full.substr(lt + 1, full.find('>') - lt - 1);
}

std::string Mixed(const std::string& boundary, const std::string& text,
                  const std::vector<Attachment>& parts, const std::string& subtype = "mixed") {
  std::string out = "Content-Type: multipart/" + subtype + "; boundary=\"" + boundary +
                    "\"\n\nThis is a multi-part message in MIME format.\n";
  out += "--" + boundary + "\n" + text;
  if (out.back() != '\n') out += "\n";
  for (const Attachment& a : parts) {
    out += "--" + boundary + "\nContent-Type: " + a.type + a.params + "\n";
    if (!a.disposition.empty()) out += "Content-Disposition: " + a.disposition + "\n";
    if (!a.encoding.empty()) out += "Content-Transfer-Encoding: " + a.encoding + "\n";
    out += a.extra + "\n" + a.body;
    if (out.back() != '\n') out += "\n";
  }
  return out + "--" + boundary + "--\n";
}

std::string PlainPart(const std::string& text) {
  return "Content-Type: text/plain; charset=utf-8; format=flowed\n"
         "Content-Transfer-Encoding: 8bit\n\n" +
         text;
}

std::string Alternative(const std::string& boundary, const std::string& plain,
                        const std::string& html) {
  return "Content-Type: multipart/alternative; boundary=\"" + boundary + "\"\n\n--" + boundary +
         "\nContent-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: "
         "quoted-printable\n\n" +
         QuotedPrintable(plain) + "\n--" + boundary +
         "\nContent-Type: text/html; charset=utf-8\nContent-Transfer-Encoding: "
         "quoted-printable\n\n" +
         QuotedPrintable(html) + "\n--" + boundary + "--\n";
}

std::string Html(const std::string& body) {
  return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"></head><body>\n" + body +
         "\n</body></html>\n";
}

std::string Uuencoded(const std::string& name, const std::string& bytes) {
  return "begin 644 " + name + "\n" + Encode(bytes, GMIME_CONTENT_ENCODING_UUENCODE) + "end\n";
}

std::string Render(const Letter& l, int index) {
  std::int64_t t = When(l.day, index);
  std::string out = "Return-Path: <" + Address(l.from) + ">\nDelivered-To: " + Address(l.to) +
                    "\nReceived: from mail.example.net (mail.example.net [192.0.2.25])\n"
                    "\tby mx.example.org with ESMTPS id " +
                    std::to_string(100000 + index * 7919) + "\n\tfor <" + Address(l.to) + ">; " +
                    RfcDate(t + 4) + "\n";
  out += "Date: " + RfcDate(t) + "\nFrom: " + l.from + "\nTo: " + l.to + "\n";
  if (!l.cc.empty()) out += "Cc: " + l.cc + "\n";
  out += "Subject: " + l.subject + "\nMessage-ID: <" + std::to_string(t) + "." +
         std::to_string(index) + "@example.net>\n" + l.headers + "MIME-Version: 1.0\n" + l.content;
  if (out.back() != '\n') out += "\n";
  return out;
}

std::vector<Letter> Letters() {
  const std::string me = "Alex Morgan <alex@example.org>";
  const std::string sam = "Sam Rivera <sam.rivera@example.net>";
  const std::string jo = "=?UTF-8?Q?J=C3=B6rg_M=C3=BCller?= <joerg@example.de>";
  const std::string mum = "Mum <helen.morgan@example.com>";
  const std::string shop = "Northwind Books <orders@northwind.example>";
  const std::string bank = "Example Savings Bank <no-reply@bank.example>";
  const std::string ci = "Build Robot <ci@builds.example.net>";
  std::vector<Letter> v;

  // ---------------------------------------------------------------- Inbox
  v.push_back({"", true, sam, me, "", "Welcome back!", 0, "",
               PlainPart("Hi Alex,\n\ngood to have you back in the office. Lunch on Thursday?\n\n"
                         "Sam\n")});
  v.push_back({"", false, "Community Garden <news@garden.example>", me, "",
               "Spring newsletter: seeds, swaps and a workshop", 1,
               "List-Id: Garden news <news.garden.example>\n"
               "List-Unsubscribe: <mailto:leave@garden.example>\n",
               Alternative("alt-news-1", "Spring is here!\n\nSeed swap on Saturday, 10:00.\n",
                           Html("<h1>Spring is here!</h1><p>Seed swap on <b>Saturday</b>, "
                                "10:00.</p>"))});
  v.push_back(
      {"", true, sam, me, "", "Minutes from Monday", 2, "",
       Mixed("mix-minutes", PlainPart("Minutes attached, plus my notes.\n"),
             {Base64Part("application/pdf", "Minutes 2026-03-02.pdf", Pdf("Minutes", 6000, 11)),
              {"text/plain", "; charset=utf-8; name=\"notes.txt\"",
               "attachment; filename=\"notes.txt\"", "quoted-printable",
               QuotedPrintable("Notes \xE2\x80\x93 Monday\n\n* Budget: 12 000 \xE2\x82\xAC "
                               "approved\n* Next review: April = soon\n"),
               ""},
              Base64Part("image/png", "whiteboard.png", Png())})});
  v.push_back({"", false, "Design Team <design@example.net>", me, "",
               "New letterhead (HTML with pictures)", 3, "",
               "Content-Type: multipart/related; boundary=\"rel-letterhead\"; "
               "type=\"multipart/alternative\"\n\n--rel-letterhead\n" +
                   Alternative("alt-letterhead", "Our new letterhead, see the logo and banner.\n",
                               Html("<img src=\"cid:logo@design\" alt=\"logo\"><p>Our new "
                                    "letterhead.</p><img src=\"cid:banner@design\">")) +
                   "--rel-letterhead\nContent-Type: image/png\nContent-ID: <logo@design>\n"
                   "Content-Disposition: inline\nContent-Transfer-Encoding: base64\n\n" +
                   Base64(Png()) +
                   "--rel-letterhead\nContent-Type: image/gif; name=\"banner.gif\"\n"
                   "Content-ID: <banner@design>\nContent-Transfer-Encoding: base64\n\n" +
                   Base64(Gif(5)) + "--rel-letterhead--\n"});
  v.push_back({"", true, sam, me, "", "Fwd: Offsite venue", 4, "",
               Mixed("mix-fwd", PlainPart("See the message below.\n"),
                     {{"message/rfc822", "", "inline", "",
                       Render({"", true, "Venue Bookings <events@lakeside.example>", sam, "",
                               "Offsite venue confirmation", 2, "",
                               Mixed("inner-venue", PlainPart("Your booking is confirmed.\n"),
                                     {Base64Part("application/pdf", "booking.pdf",
                                                 Pdf("Booking", 1500, 21))})},
                              900),
                       ""}})});
  v.push_back(
      {"", false, jo, me, "", "=?UTF-8?Q?Pr=C3=A4sentation_f=C3=BCr_M=C3=A4rz?=", 5, "",
       Mixed("mix-names", PlainPart("Hallo Alex,\n\nanbei die Unterlagen.\n\nJ\xC3\xB6rg\n"),
             {{"application/pdf", "",
               "attachment;\n filename*0*=utf-8''Pr%C3%A4sentation%20f%C3%BCr%20;\n"
               " filename*1*=M%C3%A4rz%202026.pdf",
               "base64", Base64(Pdf("Praesentation", 4000, 31)), ""},
              {"application/vnd.openxmlformats-officedocument.wordprocessingml.document",
               "; name=\"=?UTF-8?B?UsOpc3Vtw6kgKGVudHdvcmYpLmRvY3g=?=\"",
               "attachment; filename=\"=?UTF-8?B?UsOpc3Vtw6kgKGVudHdvcmYpLmRvY3g=?=\"", "base64",
               Base64("PK\x03\x04" + Noise(1800, 41)), ""}})});
  v.push_back({"", false, "Unknown Sender <prize@lottery.example>", me, "",
               "You have won! Open the attachments", 6, "",
               Mixed("mix-hostile", PlainPart("Open all attachments now.\n"),
                     {Base64Part("text/plain", "../../etc/passwd", "root:x:0:0::/root:/bin/sh\n"),
                      Base64Part("application/octet-stream", "/tmp/x", Noise(64, 51)),
                      // A backslash quoted in the header; the name itself is a\b.txt.
                      Base64Part("text/plain", "a\\\\b.txt", "backslash\n"),
                      {"application/pdf", "; name=\"=?UTF-8?Q?bad=07name=0D=0A.pdf?=\"",
                       "attachment; filename=\"=?UTF-8?Q?bad=07name=0D=0A.pdf?=\"", "base64",
                       Base64(Pdf("x", 100, 52)), ""},
                      Base64Part("application/pdf", "..", Pdf("dots", 100, 53)),
                      Base64Part("application/x-msdownload",
                                 "invoice\xE2\x80\xAE"
                                 "fdp.exe",
                                 Noise(256, 54))})});
  v.push_back({"", true, "Old Timer <uucp@retro.example>", me, "", "Old-style attachment", 7, "",
               Mixed("mix-uu", PlainPart("The table, uuencoded the old way.\n"),
                     {{"application/octet-stream", "; name=\"table.csv\"",
                       "attachment; filename=\"table.csv\"", "x-uuencode",
                       Uuencoded("table.csv", "year,count\n2024,17\n2025,23\n2026,31\n"), ""}})});
  v.push_back({"", true, "Pat Lee <pat.lee@example.com>", me, "", "Agenda", 8,
               "Thread-Topic: Agenda\n",
               Mixed("mix-tnef", PlainPart("Agenda attached.\n"),
                     {{"application/ms-tnef", "; name=\"winmail.dat\"",
                       "attachment; filename=\"winmail.dat\"", "base64",
                       Base64("\x78\x9F\x3E\x22" + Noise(700, 61)), ""}})});
  v.push_back({"", false, ci, me, "", "[build] nightly #412 passed", 9,
               "List-Id: <builds.example.net>\nPrecedence: bulk\n",
               PlainPart("All 1,204 tests passed in 6m12s.\n")});
  v.push_back({"", true, mum, me, "", "Sunday lunch (photos)", 10, "",
               Mixed("mix-photos", PlainPart("Two photos from Sunday, love Mum\n"),
                     {Base64Part("image/jpeg", "IMG_0412.JPG", Jpeg(71)),
                      Base64Part("image/jpeg", "IMG_0413 (1).JPG", Jpeg(72))})});
  v.push_back({"", false, sam, me + ", " + jo, "", "Re: Welcome back!", 11,
               "In-Reply-To: <1772442900.0@example.net>\n",
               PlainPart("Thursday works. 12:30 at the usual place?\n\n> Lunch on Thursday?\n")});

  // ----------------------------------------------------------------- Work
  v.push_back(
      {".Work", true, "Dana Kim <dana.kim@example.org>", me, sam, "Quarterly report draft", 12, "",
       Mixed("mix-q1", PlainPart("Draft attached; comments by Friday please.\n"),
             {Base64Part("application/vnd.ms-excel", "Q1 figures.xls",
                         "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1" + Noise(3000, 81)),
              Base64Part("application/pdf", "Q1 report (draft).pdf", Pdf("Q1", 8000, 82))})});
  v.push_back({".Work", false, "IT Desk <it@example.org>", me, "", "Password expiry notice", 13, "",
               Alternative("alt-it", "Your password expires in 7 days.\n",
                           Html("<p>Your password expires in <b>7 days</b>.</p>"))});
  v.push_back(
      {".Work", true, sam, me, "", "Meeting invite: planning", 14, "",
       Mixed("mix-ics", PlainPart("Invitation attached.\n"),
             {{"text/calendar", "; charset=utf-8; method=REQUEST; name=\"invite.ics\"", "", "7bit",
               "BEGIN:VCALENDAR\nVERSION:2.0\nBEGIN:VEVENT\nSUMMARY:Planning\n"
               "DTSTART:20260320T090000Z\nEND:VEVENT\nEND:VCALENDAR\n",
               ""}})});
  v.push_back({".Work", true, "Dana Kim <dana.kim@example.org>", me, "", "Signed: policy update",
               15, "",
               "Content-Type: multipart/signed; protocol=\"application/pgp-signature\"; "
               "micalg=pgp-sha256; boundary=\"sig-policy\"\n\n--sig-policy\n" +
                   PlainPart("The travel policy changes on 1 April.\n") +
                   "--sig-policy\nContent-Type: application/pgp-signature; name=\"signature.asc\"\n"
                   "Content-Description: OpenPGP digital signature\n\n"
                   "-----BEGIN PGP SIGNATURE-----\n\n" +
                   Base64(Noise(90, 91)) + "-----END PGP SIGNATURE-----\n--sig-policy--\n"});

  // -------------------------------------------------------- Work.Projects
  v.push_back(
      {".Work.Projects", true, jo, me, "", "Bridge project: drawings", 16, "",
       Mixed("mix-dwg", PlainPart("Latest drawings.\n"),
             {Base64Part("image/png", "elevation north.png", Png()),
              Base64Part("application/zip", "drawings-v3.zip", "PK\x03\x04" + Noise(5000, 101))})});
  v.push_back({".Work.Projects", false, ci, me, "", "[build] bridge-sim #88 failed", 17, "",
               Mixed("mix-log", PlainPart("Build failed, log attached.\n"),
                     {{"text/plain", "; charset=us-ascii; name=\"build.log\"",
                       "inline; filename=\"build.log\"", "7bit",
                       "step 1/3 ok\nstep 2/3 ok\nstep 3/3 FAILED: timeout\n", ""}})});
  v.push_back({".Work.Projects", true, sam, me, "", "Re: Bridge project: drawings", 18, "",
               PlainPart("Looks good. Ship it.\n")});
  v.push_back(
      {".Work.Projects", true, "Dana Kim <dana.kim@example.org>", me, "", "Budget sheet", 19, "",
       Mixed("mix-budget", PlainPart("Budget as CSV.\n"),
             {{"text/csv", "; charset=utf-8",
               "attachment;\n filename*=utf-8''Budget%20%E2%82%AC%202026.csv", "quoted-printable",
               QuotedPrintable("item;cost \xE2\x82\xAC\nsteel;120000\nconcrete;80000\n"), ""}})});

  // --------------------------------------------------------------- Family
  v.push_back({".Family", true, mum, me, "", "Recipe you asked for", 20, "",
               PlainPart("Lemon cake:\n- 200 g flour\n- 3 eggs\n- 1 lemon\n\nBake 40 minutes.\n")});
  v.push_back({".Family", false, "Chris Morgan <chris@example.com>", me, mum,
               "Holiday pictures \xF0\x9F\x8C\x8A", 21, "",
               Mixed("mix-holiday", PlainPart("The best ones.\n"),
                     {Base64Part("image/jpeg", "beach \xF0\x9F\x8C\x8A.jpg", Jpeg(121)),
                      Base64Part("image/jpeg", "sunset.jpg", Jpeg(122)),
                      Base64Part("image/gif", "dancing.gif", Gif(123))})});
  v.push_back({".Family", true, mum, me, "", "Fwd: Grandma's birthday", 22, "",
               Mixed("mix-fwd2", PlainPart("Don't forget!\n"),
                     {{"message/rfc822", "; name=\"invitation.eml\"",
                       "attachment; filename=\"invitation.eml\"", "",
                       Render({"", true, "Aunt Ruth <ruth@example.com>", mum, "",
                               "Grandma turns 90", 1, "", PlainPart("Party on the 12th!\n")},
                              901),
                       ""}})});
  v.push_back({".Family", false, "Chris Morgan <chris@example.com>", me, "", "Plans", 23, "",
               Alternative("alt-plans", "Are you coming in May?\n",
                           Html("<p>Are you coming in <i>May</i>?</p>"))});

  // ------------------------------------------------------------- Receipts
  v.push_back(
      {".Receipts", true, shop, me, "", "Your order NW-20417 has shipped", 24, "",
       Mixed("mix-order",
             Alternative("alt-order", "Your order has shipped.\n",
                         Html("<p>Your order has <b>shipped</b>.</p>")),
             {Base64Part("application/pdf", "Invoice NW-20417.pdf", Pdf("Invoice", 3000, 131))})});
  v.push_back({".Receipts", true, bank, me, "", "Statement for February", 25, "",
               Mixed("mix-statement", PlainPart("Your statement is attached.\n"),
                     {{"application/pdf", "; name=\"statement_2026-02.pdf\"", "", "base64",
                       Base64(Pdf("Statement", 5000, 141)), ""}})});
  v.push_back({".Receipts", false, "Rail Tickets <tickets@rail.example>", me, "",
               "=?ISO-8859-1?Q?Your_ticket_=96_Z=FCrich?=", 26, "",
               Mixed("mix-ticket", PlainPart("Ticket attached; show it on your phone.\n"),
                     {{"application/pdf", "; name=\"=?ISO-8859-1?Q?Ticket_Z=FCrich.pdf?=\"",
                       "attachment", "base64", Base64(Pdf("Ticket", 1200, 151)), ""}})});
  v.push_back({".Receipts", true, shop, me, "", "Thanks for your order", 27, "",
               PlainPart("Order NW-20388: 2 books, 31.90 EUR.\n")});
  v.push_back({".Receipts", false, "Cafe Corner <hello@cafe.example>", me, "",
               "Your receipt (image only)", 28, "",
               "Content-Type: image/jpeg; name=\"receipt.jpg\"\n"
               "Content-Disposition: attachment; filename=\"receipt.jpg\"\n"
               "Content-Transfer-Encoding: base64\n\n" +
                   Base64(Jpeg(161))});
  return v;
}

// ---------------------------------------------------------------- writing

bool WriteFileExact(const fs::path& path, const std::string& bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return ::close(fd) == 0;
}

void SetTime(const fs::path& path, std::int64_t t) {
  timeval times[2] = {{static_cast<time_t>(t), 0}, {static_cast<time_t>(t), 0}};
  ::utimes(path.c_str(), times);
}

int Fail(const std::string& what) {
  std::fprintf(stderr, "demo-store: %s\n", what.c_str());
  return 1;
}

}  // namespace

// A directory to write into: missing (it is made) or empty.
bool Usable(const fs::path& dir, std::string* why) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(dir, ec))) return true;
  if (!fs::is_directory(fs::symlink_status(dir, ec))) {
    *why = dir.string() + " is not a directory";
    return false;
  }
  if (!fs::is_empty(dir, ec) || ec) {
    *why = dir.string() + " is not empty";
    return false;
  }
  return true;
}

int WriteContacts(const fs::path& dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) return Fail("cannot create " + dir.string() + ": " + ec.message());
  int count = 0;
  for (const auto& [name, bytes] : demo::DemoContactFiles()) {
    if (!WriteFileExact(dir / name, bytes)) return Fail("cannot write " + (dir / name).string());
    SetTime(dir / name, When(0, ++count));
  }
  std::printf("demo-store: wrote %d contact files to %s\n", count, dir.c_str());
  return 0;
}

// The mbox file of a Maildir++ folder name, in Thunderbird's layout.
std::string MboxFile(const std::string& folder) {
  if (folder.empty()) return "Inbox";
  std::string path = folder.substr(1);
  for (std::size_t dot = 0; (dot = path.find('.', dot)) != std::string::npos; dot += 5)
    path.replace(dot, 1, ".sbd/");
  return path;
}

// A body quoted as an mboxrd writer stores it: one more '>' on every line
// that reads "From ", ">From ", ... after any '>'s.
std::string Quoted(const std::string& text) {
  std::string out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    end = end == std::string::npos ? text.size() : end + 1;
    std::size_t q = pos;
    while (q < end && text[q] == '>') ++q;
    if (text.compare(q, 5, "From ") == 0) out += '>';
    out.append(text, pos, end - pos);
    pos = end;
  }
  return out;
}

std::string Envelope(std::int64_t t) {
  time_t when = static_cast<time_t>(t);
  struct tm tm {};
  gmtime_r(&when, &tm);
  char date[64];
  std::strftime(date, sizeof date, "%a %b %e %H:%M:%S %Y", &tm);
  return std::string("From - ") + date + "\n";
}

// One message as Thunderbird appends it to a folder file.
std::string MboxEntry(const std::string& text, std::int64_t delivered, unsigned status) {
  char headers[96];
  std::snprintf(headers, sizeof headers, "X-Mozilla-Status: %04x\nX-Mozilla-Status2: 00000000\n",
                status);
  return Envelope(delivered) + headers + Quoted(text) + "\n";
}

int WriteMbox(const fs::path& root) {
  std::error_code ec;
  fs::create_directories(root / "Work.sbd", ec);
  if (ec) return Fail("cannot create " + (root / "Work.sbd").string() + ": " + ec.message());
  std::map<std::string, std::string> files;
  int index = 0;
  for (const Letter& letter : Letters()) {
    std::string text = Render(letter, index);
    files[MboxFile(letter.folder)] +=
        MboxEntry(text, When(letter.day, index) + 4, letter.read ? 1 : 0);
    ++index;
  }
  // Deleted in Thunderbird and waiting for the folder to be compacted: not listed.
  Letter gone{"",
              true,
              "Sam Rivera <sam.rivera@example.net>",
              "Alex Morgan <alex@example.org>",
              "",
              "Deleted, not yet compacted",
              40,
              "",
              PlainPart("This message is marked deleted (X-Mozilla-Status 0x8).\n")};
  files["Inbox"] += MboxEntry(Render(gone, index), When(40, index) + 4, 0x9);
  ++index;
  Letter lines{"",
               false,
               "Mum <helen.morgan@example.com>",
               "Alex Morgan <alex@example.org>",
               "",
               "From the garden",
               41,
               "",
               PlainPart("Dear Alex,\n\nFrom the garden, the first tomatoes.\n"
                         ">From your last letter: \"more photos\". Coming soon.\n\n"
                         "From Mum, with love\n")};
  files["Inbox"] += MboxEntry(Render(lines, index), When(41, index) + 4, 0);
  int count = 0;
  for (const auto& [name, bytes] : files) {
    if (!WriteFileExact(root / name, bytes)) return Fail("cannot write " + (root / name).string());
    SetTime(root / name, When(41, index));
    ++count;
  }
  std::printf("demo-store: wrote %d messages in %d mbox files to %s\n", index, count, root.c_str());
  return 0;
}

int main(int argc, char** argv) {
  static const char kUsage[] =
      "usage: demo-store [--mbox] DIR [CONTACTS]\n"
      "Writes a small Maildir++ store of made-up mail into DIR and a demo address\n"
      "book of vCard files into CONTACTS (default: DIR-contacts); each must not\n"
      "exist or be empty. With --mbox the mail is written as mbox files in\n"
      "Thunderbird's layout (Inbox, Work, Work.sbd/Projects, ...).\n";
  tools::CommandLine line = tools::ParseCommandLine(argc, argv, kUsage, {"--mbox"});
  if (line.exitStatus >= 0) return line.exitStatus;
  if (line.operands.empty() || line.operands.size() > 2 || !*line.operands[0] ||
      (line.operands.size() == 2 && !*line.operands[1])) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const fs::path root = line.operands[0];
  fs::path contacts = line.operands.size() == 2 ? fs::path(line.operands[1])
                                                : fs::path(root.string() + "-contacts");
  std::error_code ec;
  std::string why;
  if (!Usable(root, &why) || !Usable(contacts, &why)) return Fail(why);
  g_mime_init();
  if (!line.options.empty()) {
    if (int status = WriteMbox(root)) return status;
    return WriteContacts(contacts);
  }

  const char* const kFolders[] = {"", ".Work", ".Work.Projects", ".Family", ".Receipts"};
  for (const char* folder : kFolders) {
    for (const char* sub : {"cur", "new", "tmp"}) {
      fs::create_directories(root / folder / sub, ec);
      if (ec) return Fail("cannot create " + (root / folder / sub).string() + ": " + ec.message());
    }
    if (*folder && !WriteFileExact(root / folder / "maildirfolder", "")) {
      return Fail("cannot write in " + (root / folder).string());
    }
  }
  if (!WriteFileExact(root / "subscriptions", "Work\nWork.Projects\nFamily\nReceipts\n")) {
    return Fail("cannot write in " + root.string());
  }
  for (const char* folder : kFolders) {
    SetTime(root / folder / (*folder ? "maildirfolder" : "subscriptions"), When(0, 0));
  }

  int index = 0, count = 0;
  for (const Letter& letter : Letters()) {
    std::string text = Render(letter, index);
    std::int64_t delivered = When(letter.day, index) + 4;
    char base[96];
    std::snprintf(base, sizeof base, "%lld.M%06dP4242.demo,S=%zu",
                  static_cast<long long>(delivered), index + 1, text.size());
    // Unread mail sits in new/ until a mail program has seen it; some has been
    // seen (moved to cur/) but not read.
    std::string name = base;
    const char* sub = "cur";
    if (letter.read) {
      name += index % 3 == 0 ? ":2,RS" : ":2,S";
    } else if (index % 2 == 0) {
      sub = "new";
    } else {
      name += ":2,";
    }
    const fs::path dir = root / letter.folder;
    const fs::path tmp = dir / "tmp" / base;
    const fs::path final = dir / sub / name;
    if (!WriteFileExact(tmp, text)) return Fail("cannot write " + tmp.string());
    SetTime(tmp, delivered);
    if (::rename(tmp.c_str(), final.c_str()) != 0) return Fail("cannot move " + tmp.string());
    ++index;
    ++count;
  }
  std::printf("demo-store: wrote %d messages in 5 folders to %s\n", count, root.c_str());
  return WriteContacts(contacts);
}
