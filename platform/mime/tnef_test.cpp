// SPDX-License-Identifier: LGPL-2.1-or-later
// The TNEF reader over streams made to the published layout, and the file
// list of messages that carry winmail.dat parts and attached messages.
#include "platform/mime/tnef.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/com/memory.h"
#include "platform/mime/mime.h"
#include "platform/mime/testing/tnef_writer.h"
#include "platform/testing/scratch.h"

// After the platform's headers: GLib defines TRUE and FALSE as macros.
#include <glib.h>

namespace fs = std::filesystem;
using com::ComPtr;

namespace {

using mime::testing::EmbeddedMessage;
using mime::testing::LongName;
using mime::testing::Tnef;

struct Shape {
  const char* what;
  std::string stream;
  mime::tnef::Problem problem;
  std::vector<std::string> names;  // the top message's attachments
};

// The shapes a whole message shows as well (a long name, an attached message,
// a calendar item, a cut stream) are the file list's cases below.
TEST(Tnef, ReadsTheShapesOfStreams) {
  using P = mime::tnef::Problem;
  const std::string two =
      Tnef().Class("IPM.Note").File("A.TXT", "alpha").File("B.PDF", "%PDF").bytes();
  std::string badLength = two;
  badLength[two.find("B.PDF") - 4] = '\x7F';  // the title's length, far beyond the end
  std::string badLevel = two;
  badLevel[two.find("B.PDF") - 9] = '\x09';
  const std::vector<Shape> shapes = {
      {"several", two, P::kNone, {"A.TXT", "B.PDF"}},
      {"damaged length", badLength, P::kTruncated, {}},
      {"damaged level", badLevel, P::kDamaged, {}},
      {"text only", Tnef().Class("IPM.Note").Subject("Hi").bytes(), P::kNoAttachments, {}},
      {"not TNEF", "PK\x03\x04 a zip file", P::kNotTnef, {}},
      {"property count beyond the list",
       Tnef().File("A", "a").Props("", 1000).bytes(),
       P::kDamaged,
       {}},
  };
  for (const Shape& s : shapes) {
    SCOPED_TRACE(s.what);
    const mime::tnef::Result r = mime::tnef::Read(s.stream);
    EXPECT_EQ(r.problem, s.problem);
    EXPECT_EQ(r.reason.empty(), s.problem == P::kNone);
    std::vector<std::string> names;
    for (const auto& a : r.message.attachments) names.push_back(a.Name());
    EXPECT_EQ(names, s.names);
  }

  // 2004-02-17 11:25:35 as a FILETIME.
  EXPECT_EQ(mime::tnef::Read(two).message.attachments[0].modified, 127214907350000000u);
}

TEST(Tnef, NestingAndCountsStayWithinTheLimits) {
  std::string stream = Tnef().File("LEAF.TXT", "leaf").bytes();
  for (int i = 0; i < 12; ++i)
    stream = Tnef().File("M", "").Props(EmbeddedMessage(stream), 2).bytes();
  EXPECT_EQ(mime::tnef::Read(stream).problem, mime::tnef::Problem::kTooLarge);
  Tnef many;
  for (int i = 0; i < 50; ++i) many.File("F", "f");
  EXPECT_EQ(mime::tnef::Read(many.bytes(), {.maxAttachments = 49}).problem,
            mime::tnef::Problem::kTooLarge);
}

std::string Base64(const std::string& bytes) {
  gchar* b = g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
  std::string out = b;
  g_free(b);
  return out + "\n";
}

std::string Multipart(const std::string& subject, const std::string& boundary,
                      const std::vector<std::string>& parts) {
  std::string text = "Subject: " + subject +
                     "\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=" + boundary +
                     "\n\n--" + boundary + "\nContent-Type: text/plain\n\nbody\n";
  for (const std::string& p : parts) text += "--" + boundary + "\n" + p;
  return text + "--" + boundary + "--\n";
}
std::string Pdf(const std::string& name, const std::string& content) {
  return "Content-Type: application/pdf\nContent-Disposition: attachment; filename=" + name +
         "\nContent-Transfer-Encoding: base64\n\n" + Base64(content);
}
std::string Winmail(const std::string& stream) {
  return "Content-Type: application/ms-tnef; name=winmail.dat\nContent-Transfer-Encoding: "
         "base64\n\n" +
         Base64(stream);
}
std::string Attached(const std::string& message) {
  return "Content-Type: message/rfc822\n\n" + message;
}

class MessageFiles : public ::testing::Test {
 protected:
  // Every file the list gives as "depth name [container] (note)", a line each,
  // with the content of the one named `saveName` in `*saved`.
  std::string List(const std::string& text, DWORD flags, const std::string& saveName = "",
                   std::string* saved = nullptr) {
    const fs::path path = fs::path(temp_.path()) / "m.eml";
    mqtest::WriteFile(path, text);
    ComPtr<IMimeMessage> message;
    EXPECT_EQ(mime::OpenMessageFile(path.c_str(), message.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<IMimeMessageFiles> files;
    EXPECT_EQ(message->QueryInterface(IID_IMimeMessageFiles, files.ReleaseAndGetVoidAddress()),
              S_OK);
    ULONG count = 0;
    handles_ = 0;
    EXPECT_EQ(files->ListFiles(flags, &count), S_OK);
    std::string out;
    for (ULONG i = 0; i < count; ++i) {
      MIMEFILEINFO info{};
      info.cbSize = sizeof info;
      EXPECT_EQ(files->GetFileInfo(i, &info), S_OK);
      out += std::to_string(info.dwDepth) + " " + info.pszName;
      handles_ += info.hBody != nullptr;
      if (info.pszContainer) out += std::string(" [") + info.pszContainer + "]";
      if (info.pszNote) out += std::string(" (") + info.pszNote + ")";
      out += "\n";
      if (saved && saveName == info.pszName) {
        const fs::path out = fs::path(temp_.path()) / "saved";
        EXPECT_EQ(files->SaveFile(i, out.c_str()), S_OK);
        *saved = mqtest::ReadFile(out);
      }
      files->FreeFileInfo(&info);
    }
    MIMEFILEINFO beyond{};
    beyond.cbSize = sizeof beyond;
    EXPECT_EQ(files->GetFileInfo(count, &beyond), E_INVALIDARG);
    return out;
  }

  mqtest::TempDir temp_;
  int handles_ = 0;  // files of the last list that are parts of the message's own list
};

TEST_F(MessageFiles, OpensWinmailAndAttachedMessagesOnlyWhenAsked) {
  const std::string tnef = Tnef()
                               .File("PLAN.PDF", "plan")
                               .Props(LongName("Project plan.pdf"), 1)
                               .File("A.TXT", "a")
                               .bytes();
  const std::string twice = Multipart("Inner", "c", {Pdf("deep.pdf", "deep")});
  const std::string once =
      Multipart("Fwd: report", "b", {Pdf("report.pdf", "rep"), Attached(twice)});
  const std::string winmailForwarded = Multipart("With winmail", "d", {Winmail(tnef)});
  const std::string text =
      Multipart("Top", "a", {Winmail(tnef), Attached(once), Attached(winmailForwarded)});

  EXPECT_EQ(List(text, 0), "0 winmail.dat\n0 Fwd: report.eml\n0 With winmail.eml\n");
  std::string saved;
  EXPECT_EQ(List(text, MIMEFILES_UNPACK_TNEF, "Project plan.pdf", &saved),
            "0 Project plan.pdf [winmail.dat]\n0 A.TXT [winmail.dat]\n0 Fwd: report.eml\n"
            "0 With winmail.eml\n");
  EXPECT_EQ(saved, "plan");
  EXPECT_EQ(List(text, MIMEFILES_NESTED | MIMEFILES_UNPACK_TNEF, "deep.pdf", &saved),
            "0 Project plan.pdf [winmail.dat]\n0 A.TXT [winmail.dat]\n"
            "0 Fwd: report.eml\n1 report.pdf [Fwd: report]\n1 Inner.eml [Fwd: report]\n"
            "2 deep.pdf [Fwd: report / Inner]\n"
            "0 With winmail.eml\n1 Project plan.pdf [With winmail / winmail.dat]\n"
            "1 A.TXT [With winmail / winmail.dat]\n");
  EXPECT_EQ(saved, "deep");
  EXPECT_EQ(handles_, 2);  // the two attached messages
  EXPECT_EQ(List(text, MIMEFILES_NESTED),
            "0 winmail.dat\n0 Fwd: report.eml\n1 report.pdf [Fwd: report]\n"
            "1 Inner.eml [Fwd: report]\n2 deep.pdf [Fwd: report / Inner]\n"
            "0 With winmail.eml\n1 winmail.dat [With winmail]\n");
}

TEST_F(MessageFiles, WinmailThatDoesNotUnpackStaysWithTheReason) {
  const std::string meeting = Tnef().Class("IPM.Microsoft Schedule.MtgReq").bytes();
  const std::string cut = Tnef().File("A.TXT", "alpha").bytes().substr(0, 50);
  const std::string inner = Tnef().Class("IPM.Note").Subject("Inner").File("IN.TXT", "in").bytes();
  const std::string onlyMessage = Tnef().File("MSG", "").Props(EmbeddedMessage(inner), 2).bytes();
  std::string saved;
  EXPECT_EQ(
      List(Multipart("M", "a", {Winmail(meeting)}), MIMEFILES_UNPACK_TNEF, "winmail.dat", &saved),
      "0 winmail.dat (a calendar item with no attached files)\n");
  EXPECT_EQ(saved, meeting);
  EXPECT_EQ(List(Multipart("M", "a", {Winmail(cut)}), MIMEFILES_UNPACK_TNEF),
            "0 winmail.dat (the stream is cut short)\n");
  EXPECT_EQ(List(Multipart("M", "a", {Winmail(onlyMessage)}), MIMEFILES_UNPACK_TNEF),
            "0 winmail.dat (holds only attached messages (unpacked with attachments inside "
            "attached messages))\n");
  EXPECT_EQ(List(Multipart("M", "a", {Winmail(onlyMessage)}),
                 MIMEFILES_UNPACK_TNEF | MIMEFILES_NESTED, "IN.TXT", &saved),
            "1 IN.TXT [winmail.dat / Inner]\n");
  EXPECT_EQ(saved, "in");
}

}  // namespace
