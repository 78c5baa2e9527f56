// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/mime/mime.h"

#include <fcntl.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/com/memory.h"
#include "platform/mime/mime_internal.h"
#include "platform/mime/top_headers.h"
#include "platform/testing/scratch.h"

namespace fs = std::filesystem;
using com::ComPtr;

namespace {

using mqtest::ReadFile;
using mqtest::WriteFile;

std::string Base64(const std::string& bytes, bool wrap = true) {
  gchar* b = g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
  std::string flat = b;
  g_free(b);
  if (!wrap) return flat;
  std::string out;
  for (std::size_t i = 0; i < flat.size(); i += 76) out += flat.substr(i, 76) + "\r\n";
  return out;
}

std::string AllBytes() {  // every byte value, three times
  std::string bytes;
  for (int i = 0; i < 3 * 256; ++i) bytes += static_cast<char>(i % 256);
  return bytes;
}

// One attachment as the tests see it.
struct Part {
  HBODY handle;
  std::string name;
};

class MimeTest : public ::testing::Test {
 protected:
  ComPtr<IMimeMessage> Open(const std::string& text) {
    fs::path path = dir_ / ("msg" + std::to_string(++files_) + ".eml");
    WriteFile(path, text);
    ComPtr<IMimeMessage> message;
    EXPECT_EQ(mime::OpenMessageFile(path.c_str(), message.ReleaseAndGetAddressOf()), S_OK);
    return message;
  }

  // Every listed part with its handle and name.
  static std::vector<Part> Parts(IMimeMessage* message) {
    ULONG count = 99;
    HBODY* handles = nullptr;
    EXPECT_EQ(message->GetAttachments(&count, &handles), S_OK);
    EXPECT_TRUE(count > 0 || handles == nullptr) << "a list without attachments";
    std::vector<Part> parts;
    for (ULONG i = 0; i < count; ++i) {
      LPSTR name = nullptr;
      EXPECT_EQ(Body(message, handles[i])->GetDisplayName(&name), S_OK);
      parts.push_back({handles[i], name ? name : "<none>"});
      CoTaskMemFree(name);
    }
    CoTaskMemFree(handles);
    return parts;
  }

  static ComPtr<IMimeBody> Body(IMimeMessage* message, HBODY part) {
    ComPtr<IMimeBody> body;
    EXPECT_EQ(message->BindToObject(part, IID_IMimeBody, body.ReleaseAndGetVoidAddress()), S_OK);
    return body;
  }

  // The decoded content of one part, saved through SaveToFile.
  std::string Saved(IMimeMessage* message, HBODY part) {
    fs::path out = dir_ / "saved.bin";
    EXPECT_EQ(Body(message, part)->SaveToFile(IET_BINARY, out.c_str()), S_OK);
    return ReadFile(out);
  }

  // What the attachment members can learn of a message: every listed part as
  // "A name=content" (an attachment) or "- name=content" (an inline text
  // shown below the body), a line each.
  std::string Answers(IMimeMessage* message) {
    std::string all;
    for (const Part& p : Parts(message)) {
      all += message->IsBodyType(p.handle, IBT_ATTACHMENT) == S_OK ? "A " : "- ";
      all += p.name + "=" + Saved(message, p.handle) + "\n";
    }
    return all;
  }

  mqtest::TempDir temp_;
  const fs::path dir_ = temp_.path();
  int files_ = 0;
};

const char kUu[] =
    "begin 644 hello.bin\n"
    R"UU(M2&5L;&\L('5U96YC;V1E9"!W;W)L9"$*  '^_TAE;&QO+"!U=65N8V]D960@)UU"
    "\n"
    R"UU(G=V]R;&0A"@ !_O](96QL;RP@=75E;F-O9&5D('=O<FQD(0H  ?[_)UU"
    "\n`\nend\n";

TEST_F(MimeTest, LargePartsAcrossReadAheadBoundariesDecodeExactly) {
  std::string text =
      "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\nt\n";
  std::vector<std::string> payloads;
  for (int i = 0; i < 3; ++i) {
    std::string bytes;
    for (int j = 0; j < 300000 + i * 77777; ++j) bytes += static_cast<char>((j * 31 + i) % 251);
    payloads.push_back(bytes);
    text += "--b\nContent-Type: application/octet-stream; name=p" + std::to_string(i) +
            "\nContent-Transfer-Encoding: base64\n\n" + Base64(bytes);
  }
  auto message = Open(text + "--b--\n");
  auto parts = Parts(message.Get());
  ASSERT_EQ(parts.size(), 3u);
  // Out of order, so that reads jump back and forth in the file.
  for (int i : {2, 0, 1}) EXPECT_EQ(Saved(message.Get(), parts[i].handle), payloads[i]) << i;
}

// A part whose headers run into its base64 body, with no empty line between
// them: a known mailer fault. The body runs to the boundary, whether it is
// wrapped or one long line, after a plain part or after an alternative.
std::string RunOnPart(const std::string& bytes, bool lf, bool wrapped, bool afterAlternative) {
  std::string text =
      "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n" +
      std::string(afterAlternative
                      ? "--b\r\nContent-Type: multipart/alternative; boundary=alt\r\n\r\n"
                        "--alt\r\nContent-Type: text/plain\r\n\r\nhi\r\n"
                        "--alt\r\nContent-Type: text/html\r\n\r\n<p>hi</p>\r\n--alt--\r\n"
                      : "--b\r\nContent-Type: text/plain\r\n\r\nhi\r\n") +
      "--b\r\nContent-Type: application/pdf; name=a.pdf\r\n"
      "Content-Disposition: attachment; filename=a.pdf\r\n"
      "Content-Transfer-Encoding: base64\r\n" +
      Base64(bytes, wrapped) + (wrapped ? "" : "\r\n") +
      // A part that is empty with its empty line stays empty.
      "--b\r\nContent-Type: application/zip; name=empty.zip\r\n\r\n--b--\r\n";
  if (lf) std::erase(text, '\r');
  return text;
}

TEST_F(MimeTest, EachShapeOfMessageListsItsPartsNamedAndDecodedExactly) {
  const std::string pdf = "%PDF-1.4\n" + AllBytes(), png = "\x89PNG\r\n\x1a\n" + AllBytes();
  const std::string hello = std::string("Hello, uuencoded world!\n\0\x01\xfe\xff", 28);
  const std::string inner =
      "From: b@example.org\r\nSubject: Re: the plan / v2\r\nMIME-Version: 1.0\r\n"
      "Content-Type: multipart/mixed; boundary=inner\r\n\r\n"
      "--inner\r\nContent-Type: text/plain\r\n\r\ninner text\r\n"
      "--inner\r\nContent-Type: application/zip; name=x.zip\r\n"
      "Content-Transfer-Encoding: base64\r\n\r\nUEsDBA==\r\n--inner--\r\n";
  std::string longSubject;
  for (int i = 0; i < 150; ++i) longSubject += "\xC3\xA9";
  const std::string mixed =
      "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n";
  std::string scan;  // its base64 one line longer than a 4 KiB read
  for (int i = 0; i < 3750; ++i) scan += static_cast<char>(i * 7 % 256);
  const std::string runOn = "A a.pdf=" + scan + "\nA empty.zip=\n";
  const struct {
    const char* what;
    std::string text;
    std::string answers;
  } cases[] = {
      {"mixed, in three encodings and an inline text",
       mixed +
           "--b\r\nContent-Type: text/plain\r\n\r\nSee attached.\r\n"
           "--b\r\nContent-Type: application/pdf; name=\"report (final).pdf\"\r\n"
           "Content-Disposition: attachment; filename=\"report (final).pdf\"\r\n"
           "Content-Transfer-Encoding: base64\r\n\r\n" +
           Base64(pdf) +
           "--b\r\nContent-Type: text/plain; charset=utf-8\r\n"
           "Content-Disposition: attachment; filename=notes.txt\r\n"
           "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
           "caf=C3=A9 =3D 1 and a very long line that is soft=\r\n-broken\r\n"
           "--b\r\nContent-Type: application/octet-stream; name=hello.bin\r\n"
           "Content-Transfer-Encoding: x-uuencode\r\n\r\n" +
           kUu + "--b\r\nContent-Type: text/plain\r\n\r\nsignature block\r\n--b--\r\n",
       "A report (final).pdf=" + pdf + "\nA notes.txt=caf\xC3\xA9 = 1 and a very long line that " +
           "is soft-broken\nA hello.bin=" + hello + hello + hello +
           "\n- attachment.txt=signature block\n"},
      {"text alternatives are the body, an inline image an attachment",
       "MIME-Version: 1.0\r\nContent-Type: multipart/alternative; boundary=alt\r\n\r\n"
       "--alt\r\nContent-Type: text/plain\r\n\r\nplain\r\n"
       "--alt\r\nContent-Type: multipart/related; boundary=rel\r\n\r\n"
       "--rel\r\nContent-Type: text/html\r\n\r\n<img src=\"cid:logo\">\r\n"
       "--rel\r\nContent-Type: image/png\r\nContent-ID: <logo>\r\n"
       "Content-Disposition: inline\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
           Base64(png) + "--rel--\r\n--alt--\r\n",
       "A attachment.png=" + png + "\n"},
      {"a single text part", "Subject: x\r\n\r\nhello\r\n", ""},
      {"a single other part",
       "Content-Type: application/pdf\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
           Base64("%PDF"),
       "A attachment.pdf=%PDF\n"},
      {"a type without its \"/\"",
       "Content-Type: application-x-gzip; name=\"document.xml.gz\"\r\n"
       "Content-Transfer-Encoding: base64\r\n\r\n" +
           Base64("gzip bytes"),
       "A document.xml.gz=gzip bytes\n"},
      // An attached message is its own bytes, named by its whole subject with
      // "/" and "\\" replaced.
      {"attached messages",
       mixed +
           "--b\r\nContent-Type: text/plain\r\n\r\nforwarded\r\n"
           "--b\r\nContent-Type: message/rfc822\r\n\r\n" +
           inner +
           "\r\n--b\r\nContent-Type: message/rfc822\r\n\r\nFrom: c@example.org\r\n\r\nhi\r\n"
           "--b\r\nContent-Type: message/rfc822\r\n\r\n"
           "Subject: test message one (a message with a text/plain body)\r\n\r\nhi\r\n"
           "--b\r\nContent-Type: message/rfc822\r\n\r\nSubject: a\\b/c\r\n\r\nhi\r\n--b--\r\n",
       "A Re: the plan _ v2.eml=" + inner + "\nA message.eml=From: c@example.org\r\n\r\nhi\n" +
           "A test message one (a message with a text_plain body).eml=Subject: test message " +
           "one (a message with a text/plain body)\r\n\r\nhi\nA a_b_c.eml=Subject: "
           "a\\b/c\r\n\r\nhi\n"},
      // Cut to the longest name the file system takes, keeping whole characters.
      {"an attached message with a long subject",
       mixed + "--b\r\nContent-Type: message/rfc822\r\n\r\nSubject: " + longSubject +
           "\r\n\r\nhi\r\n--b--\r\n",
       "A " + longSubject.substr(0, mime::detail::kMaxNameBytes - 4) +
           ".eml=Subject: " + longSubject + "\r\n\r\nhi\n"},
      {"names encoded every way, and 8-bit",
       mixed + "--b\r\nContent-Type: text/plain\r\n\r\nbody\r\n"
               "--b\r\nContent-Type: application/pdf\r\nContent-Disposition: attachment;\r\n"
               " filename*0*=utf-8''%C3%A9t%C3%A9%20;\r\n filename*1*=r%C3%A9sum%C3%A9;\r\n"
               " filename*2=\".pdf\"\r\n\r\nx\r\n"
               "--b\r\nContent-Type: application/msword;\r\n"
               " name=\"=?UTF-8?B?0J/RgNC40LLQtdGCINC80LjRgC5kb2M=?=\"\r\n\r\nx\r\n"
               "--b\r\nContent-Type: application/pdf;\r\n"
               " name=\"=?iso-8859-1?Q?Gr=FC=DFe_(1).pdf?=\"\r\n\r\nx\r\n"
               "--b\r\nContent-Type: application/ms-tnef; name=\"winmail.dat\"\r\n"
               "Content-Transfer-Encoding: base64\r\n\r\neJ8+IgAA\r\n"
               "--b\r\nContent-Type: application/octet-stream\r\n"
               "Content-Disposition: attachment; filename=\"caf\xC3\xA9 8bit.txt\"\r\n\r\nx\r\n"
               "--b--\r\n",
       "A \xC3\xA9t\xC3\xA9 r\xC3\xA9sum\xC3\xA9.pdf=x\n"
       "A \xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xD0\xBC\xD0\xB8\xD1\x80.doc=x\n"
       "A Gr\xC3\xBC\xC3\x9F"
       "e (1).pdf=x\nA winmail.dat=" +
           std::string("\x78\x9f\x3e\x22\0\0", 6) + "\nA caf\xC3\xA9 8bit.txt=x\n"},
      // Windows-1252 under a Latin-1 label: 0x96 a dash, 0x93 and 0x94 quotes.
      {"names labelled Latin-1",
       mixed + "--b\r\nContent-Type: text/plain\r\n\r\nbody\r\n"
               "--b\r\nContent-Type: application/pdf;\r\n"
               " name=\"=?iso-8859-1?Q?Offer_=96_final.pdf?=\"\r\n\r\nx\r\n"
               "--b\r\nContent-Type: text/plain\r\nContent-Disposition: attachment;\r\n"
               " filename*=ISO-8859-1''%93q%94.txt\r\n\r\ny\r\n--b--\r\n",
       "A Offer \u2013 final.pdf=x\nA \u201Cq\u201D.txt=y\n"},
      // MIME reads "text" without a subtype as text/plain.
      {"a text type without its subtype",
       mixed + "--b\r\nContent-Type: text; charset=us-ascii\r\n\r\nbody\r\n"
               "--b\r\nContent-Type: TEXT ;name=notes\r\n\r\nn\r\n"
               "--b\r\nContent-Type: text\r\n\r\ninline\r\n"
               "--b\r\nContent-Type: texts\r\n\r\nx\r\n--b--\r\n",
       "A notes=n\n- attachment.txt=inline\nA attachment.bin=x\n"},
      {"run-on headers, wrapped, CRLF, after a text part", RunOnPart(scan, false, true, false),
       runOn},
      {"run-on headers, one line, LF, after an alternative", RunOnPart(scan, true, false, true),
       runOn},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Answers(Open(c.text).Get()), c.answers);
  }
}

// A name from a message becomes one plain file name, or nothing: no
// directories, no control characters, no invalid UTF-8, no direction marks
// that show a different extension, no more than the file system takes.
// (Paths and backslashes cut to their last part: the control's
// ExtractAttachment, end to end, where a name leaving the directory shows.)
TEST(MimeNames, HostileNamesBecomePlainFileNames) {
  using mime::detail::SanitizeFileName;
  const std::string longName = std::string(300, 'x') + ".pdf";
  const std::pair<std::string, std::string> cases[] = {
      {"ev\x01il\r\n\x7f.txt", "evil.txt"},
      {"inv\xff\xfe"
       "alid.txt",
       "inv\xEF\xBF\xBD\xEF\xBF\xBD"
       "alid.txt"},
      {"gpj.\xE2\x80\xAE"
       "exe",
       "gpj.exe"},
      {"dir/..", ""},
      {". .", ""},
      {"a/", ""},
      {"  my file (2).pdf", "  my file (2).pdf"},
      {longName, std::string(mime::detail::kMaxNameBytes - 4, 'x') + ".pdf"},
  };
  for (const auto& [raw, name] : cases) EXPECT_EQ(SanitizeFileName(raw), name) << raw;
}

TEST_F(MimeTest, BrokenMessagesParseWithoutHarm) {
  const std::string cases[] = {
      "Subject: nothing\r\n",  // no body at all
      "",
      "just some words\nwithout headers\n",
      std::string("Subject: caf\xE9\r\n\r\nnul\0byte\r\n", 25),
      "MIME-Version: 1.0\r\nContent-Type: multipart/mixed\r\n\r\n--x\r\n"  // no boundary
      "Content-Type: application/pdf\r\n\r\nx\r\n--x--\r\n",
  };
  for (const std::string& text : cases) EXPECT_EQ(Answers(Open(text).Get()), "") << text;
  // Base64 cut off in the middle, and a multipart cut off before its end.
  auto truncated = Open(
      "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
      "--b\r\nContent-Type: application/pdf; name=a.pdf\r\n"
      "Content-Transfer-Encoding: base64\r\n\r\nJVBERi0xLjQK!!JVBER");
  EXPECT_EQ(Answers(truncated.Get()).substr(0, 17), "A a.pdf=%PDF-1.4\n");
}

TEST_F(MimeTest, HandlesAreCheckedAndBodiesKeepTheMessageAlive) {
  auto a = Open(
      "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\n"
      "t\r\n--b\r\nContent-Type: image/gif; name=a.gif\r\n\r\nGIF89a\r\n--b--\r\n");
  auto b = Open("Content-Type: image/gif; name=b.gif\r\n\r\nGIF89a");
  HBODY foreign = Parts(b.Get())[0].handle;
  HBODY own = Parts(a.Get())[0].handle;
  EXPECT_EQ(a->IsBodyType(foreign, IBT_ATTACHMENT), E_INVALIDARG);
  EXPECT_EQ(a->IsBodyType(nullptr, IBT_ATTACHMENT), E_INVALIDARG);
  EXPECT_EQ(
      a->IsBodyType(reinterpret_cast<HBODY>(reinterpret_cast<char*>(own) + 1), IBT_ATTACHMENT),
      E_INVALIDARG);
  ComPtr<IMimeBody> body;
  EXPECT_EQ(a->BindToObject(foreign, IID_IMimeBody, body.ReleaseAndGetVoidAddress()), E_INVALIDARG);
  ASSERT_EQ(a->BindToObject(own, IID_IMimeBody, body.ReleaseAndGetVoidAddress()), S_OK);
  a.Reset();
  fs::path out = dir_ / "kept.gif";
  EXPECT_EQ(body->SaveToFile(IET_BINARY, out.c_str()), S_OK);
  EXPECT_EQ(ReadFile(out), "GIF89a");

  IMimeMessage* none = nullptr;
  EXPECT_EQ(mime::OpenMessageFile((dir_ / "missing").c_str(), &none),
            HRESULT_FROM_WIN32_FILE_NOT_FOUND);
  EXPECT_TRUE(FAILED(mime::OpenMessageFile(dir_.c_str(), &none)));
  EXPECT_EQ(mime::OpenMessageFile(nullptr, &none), E_INVALIDARG);
}

TEST_F(MimeTest, SaveToFileReplacesPlainFilesOnlyAndLeavesNoPartialFile) {
  const std::string pdf(200000, 'p');
  auto message = Open(
      "Content-Type: application/pdf; name=a.pdf\r\n"
      "Content-Transfer-Encoding: base64\r\n\r\n" +
      Base64(pdf));
  auto body = Body(message.Get(), Parts(message.Get())[0].handle);

  fs::path out = dir_ / "a.pdf";
  WriteFile(out, std::string(300000, 'z'));
  EXPECT_EQ(body->SaveToFile(IET_BINARY, out.c_str()), S_OK);
  EXPECT_EQ(ReadFile(out), pdf);

  fs::path target = dir_ / "precious";
  WriteFile(target, "keep me");
  fs::create_symlink(target, dir_ / "link.pdf");
  EXPECT_TRUE(FAILED(body->SaveToFile(IET_BINARY, (dir_ / "link.pdf").c_str())));
  EXPECT_EQ(ReadFile(target), "keep me");

  ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  EXPECT_TRUE(FAILED(body->SaveToFile(IET_BINARY, (dir_ / "fifo").c_str())));
  EXPECT_TRUE(FAILED(body->SaveToFile(IET_BINARY, (dir_ / "no" / "dir").c_str())));
  EXPECT_EQ(body->SaveToFile(IET_BINARY, nullptr), E_INVALIDARG);

  // A file size limit makes write() fail the way a full disk does.
  mqtest::FileSizeLimit limit(50000);
  EXPECT_TRUE(FAILED(body->SaveToFile(IET_BINARY, (dir_ / "cut.pdf").c_str())));
  EXPECT_FALSE(fs::exists(dir_ / "cut.pdf"));
}

}  // namespace

// "To:" with `depth` address groups nested inside each other.
std::string DeepTo(std::size_t depth) {
  std::string line = "To: ";
  line.reserve(depth * 3 + 40);
  for (std::size_t i = 0; i < depth; ++i) line += "g:";
  return line + "b@example.com" + std::string(depth, ';') + "\r\n";
}

TEST_F(MimeTest, DeeplyNestedAddressGroupsNeverReachTheParser) {
  const std::string pdf = Base64("%PDF deep");
  const std::string inner =
      "From: c@example.org\r\n" + DeepTo(1000000) + "Subject: inner\r\n\r\nhi\r\n";
  auto message =
      Open(DeepTo(50000) + "Cc: " + std::string(300, ':') +
           "\r\nSubject: deep\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=b\r\n\r\n"
           "--b\r\nContent-Type: text/plain\r\n\r\nTo: " +
           std::string(100000, ':') +
           "\r\n"
           "--b\r\nContent-Type: application/pdf; name=a.pdf\r\n"
           "Content-Transfer-Encoding: base64\r\n\r\n" +
           pdf + "--b\r\nContent-Type: message/rfc822\r\n\r\n" + inner + "\r\n--b--\r\n");
  auto parts = Parts(message.Get());
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].name, "a.pdf");
  EXPECT_EQ(Saved(message.Get(), parts[0].handle), "%PDF deep");
  EXPECT_EQ(parts[1].name, "inner.eml");
  const std::string saved = Saved(message.Get(), parts[1].handle);
  EXPECT_NE(saved.find("b@example.com"), std::string::npos);
  EXPECT_EQ(saved.substr(saved.size() - 4), "hi\r\n");
}

TEST_F(MimeTest, DeeplyNestedPartsAndMessagesParseAndSave) {
  // Multiparts and attached messages inside each other, thousands deep.
  constexpr int kDepth = 20000;
  std::string head, tail;
  for (int i = kDepth - 1; i >= 0; --i) {
    const std::string b = "b" + std::to_string(i);
    if (i % 2) {
      head += "Content-Type: message/rfc822\r\n\r\nSubject: s\r\n";
    } else {
      head += "Content-Type: multipart/mixed; boundary=" + b + "\r\n\r\n--" + b + "\r\n";
    }
  }
  for (int i = 0; i < kDepth; i += 2) tail += "\r\n--b" + std::to_string(i) + "--\r\n";
  const std::string nested =
      head + "Content-Type: application/zip; name=z.zip\r\n\r\nzip\r\n" + tail;
  auto message = Open("Subject: nest\r\nMIME-Version: 1.0\r\n" + nested);
  Answers(message.Get());
}

// A body labelled Latin-1 or ASCII is read as Windows-1252 (0x96 a dash, 0x80
// the euro sign); other labels stay as sent, and "text" alone is text/plain.
TEST_F(MimeTest, TextBodiesUnderLatin1LabelsReadAsWindows1252) {
  const struct {
    const char* type;
    std::string body, plain;
  } cases[] = {
      {"text/plain; charset=iso-8859-1", "Z\xFCrich \x96 \x80", "Z\u00FCrich \u2013 \u20AC"},
      {"text; charset=US-ASCII", "\x93q\x94", "\u201Cq\u201D"},
      {"text/plain; charset=koi8-r", "\xF0\x96", "\xF0\x96"},
  };
  for (const auto& c : cases) {
    auto message = Open("Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: " +
                        std::string(c.type) + "\r\n\r\n" + c.body +
                        "\r\n--b\r\nContent-Type: application/pdf\r\n\r\nx\r\n--b--\r\n");
    LPSTR text = nullptr;
    ASSERT_EQ(message->GetTextBody(TXT_PLAIN, &text), S_OK);
    EXPECT_EQ(std::string(text), c.plain);
    CoTaskMemFree(text);
  }
}

TEST_F(MimeTest, HeaderBlockShortcutAnswersAsTheFullParse) {
  std::vector<std::string> cases = {
      "Subject: plain\r\n\r\nHello.\r\n",
      "Subject: lf\n\nHello.\n",
      "Content-Type: text\r\n\r\nx\r\n",
      "Content-Type: Text; charset=us-ascii\r\n\r\nx\r\n",
      "Content-Type: TEXT/HTML; charset=utf-8\r\nContent-Transfer-Encoding: Base64 "
      "\r\n\r\naGk=\r\n",
      "Content-Type: text/plain;\r\n\tname=\"folded.txt\"\r\n\r\nx\r\n",
      "Content-Type: text/plain; name*=utf-8''a%20b.txt\r\n\r\nx\r\n",
      "Content-Type: text/plain\r\nContent-Disposition: attachment\r\n\r\nx\r\n",
      "Content-Type: text/plain\r\nContent-Disposition: inline; filename=i.txt\r\n\r\nx\r\n",
      "Content-Type: text/plain\r\nContent-Transfer-Encoding: x-uuencode\r\n\r\n" +
          std::string(kUu),
      "Content-Type: text/plain\r\nContent-Type: application/pdf\r\n\r\nx\r\n",
      "Content-Type: application-x-gzip; name=\"document.xml.gz\"\r\n\r\nx\r\n",
      "Content-Type: text/calendar\r\n\r\nBEGIN:VCALENDAR\r\n",
      "Content-Type: text/plain\r\nContent-Transfer-Encoding: base64\r\nJVBERi0xLjQK\r\n",
      "\r\nSubject: after an empty line\r\n\r\nx\r\n",
      "From someone Mon Jan  1 00:00:00 2001\r\nSubject: mbox\r\n\r\nx\r\n",
      " folded: first\r\n\r\nx\r\n",
      "Bad Name: x\r\n\r\nbody\r\n",
      "Subject: no empty line, all header\r\n",
      "Subject: caf\xE9\r\nContent-Type: text/plain; charset=\"iso-8859-1\"\r\n\r\ncaf\xE9\r\n",
      std::string("Subject: nul\0\r\n\r\nx\r\n", 20),
  };
  for (const char* corpus :
       {"forward.eml", "mixed.eml", "names.eml", "plain.eml", "related.eml", "deep_groups.eml"})
    cases.push_back(ReadFile(fs::path(MQ_SOURCE_DIR) / "fuzz/corpus" / corpus));
  int shortcuts = 0;
  for (const std::string& text : cases) {
    fs::path path = dir_ / "case.eml";
    WriteFile(path, text);
    ComPtr<IMimeMessage> quick, parsed;
    ASSERT_EQ(mime::OpenMessageFile(path.c_str(), quick.ReleaseAndGetAddressOf()), S_OK);
    ASSERT_EQ(mime::detail::ParseMessageFile(path.c_str(), parsed.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(Answers(quick.Get()), Answers(parsed.Get())) << text.substr(0, 80);
    std::string head;
    int fd = ::open(path.c_str(), O_RDONLY);
    shortcuts +=
        mime::detail::ReadTopHeaderBlock(fd, &head) && mime::detail::IsSingleTextPart(head);
    ::close(fd);
  }
  EXPECT_EQ(shortcuts, 7);  // the first seven cases and the corpus's plain message
}
