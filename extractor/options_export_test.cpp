// SPDX-License-Identifier: LGPL-2.1-or-later
// The exports with options on, over one store of real-world shapes: an
// Outlook-style HTML mail with a cid: logo and a PDF, an Apple Mail-style
// multipart/related with an inline image and an inline PDF, one PDF forwarded
// three times, two different PDFs of one name and size, a Junk folder, dates
// across a year boundary, a non-ASCII subject and a folder three levels down.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QByteArray>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cerrno>
#include <filesystem>
#include <fstream>

#include "extractor/options_export.h"
#include "extractor/testing/mailsift_fixture.h"
#include "platform/mime/testing/tnef_writer.h"
#include "platform/shell/files.h"
#include "platform/ui/click_testing.h"

namespace mailsift {
namespace {

namespace fs = std::filesystem;
using testing::MailsiftTest;
using testing::MailWithAttachment;
using testing::Tree;
using Files = std::map<std::string, std::string>;

const std::string kLogo = "\x89PNG logo bytes";
const std::string kInvoice = "%PDF-1.4 invoice 2023";
const std::string kContract = "%PDF-1.4 the contract";
const std::string kScanA = "%PDF scan AAAA";
const std::string kScanB = "%PDF scan BBBB";

std::string Base64(const std::string& bytes) {
  return QByteArray::fromStdString(bytes).toBase64().toStdString();
}

std::string Head(const std::string& from, const std::string& subject, const std::string& date,
                 const std::string& id) {
  return "From: " + from + "\r\nSubject: " + subject + "\r\nDate: " + date + "\r\nMessage-ID: <" +
         id + "@test>\r\nMIME-Version: 1.0\r\n";
}

std::string OutlookMail() {
  return Head("Anna Accountant <anna@tax.example>", "Invoice December",
              "Sat, 30 Dec 2023 10:00:00 +0000", "outlook") +
         "Content-Type: multipart/mixed; boundary=\"m\"\r\n\r\n"
         "--m\r\nContent-Type: multipart/related; boundary=\"r\"\r\n\r\n"
         "--r\r\nContent-Type: text/html\r\n\r\n<p>Hi</p><img src=\"cid:image001.png@01DA\">\r\n"
         "--r\r\nContent-Type: image/png; name=\"image001.png\"\r\n"
         "Content-ID: <image001.png@01DA>\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
         Base64(kLogo) +
         "\r\n--r--\r\n"
         "--m\r\nContent-Type: application/pdf; name=\"invoice.pdf\"\r\n"
         "Content-Disposition: attachment; filename=\"invoice.pdf\"\r\n\r\n" +
         kInvoice + "\r\n--m--\r\n";
}

std::string AppleMail() {
  return Head("Bob <bob@example.org>",
              "=?UTF-8?Q?Rechnung_f=C3=BCr_M=C3=A4rz?=", "Tue, 02 Jan 2024 09:00:00 +0100",
              "apple") +
         "Content-Type: multipart/related; boundary=\"r\"; type=\"text/html\"\r\n\r\n"
         "--r\r\nContent-Type: text/html\r\n\r\n<p>See the photo.</p>\r\n"
         "--r\r\nContent-Type: image/jpeg; name=\"photo.jpg\"\r\n"
         "Content-Disposition: inline; filename=\"photo.jpg\"\r\n\r\nJPEGDATA\r\n"
         "--r\r\nContent-Type: application/pdf; name=\"report.pdf\"\r\n"
         "Content-Disposition: inline; filename=\"report.pdf\"\r\n\r\n%PDF report\r\n--r--\r\n";
}

std::string PdfMail(const std::string& subject, const std::string& name, const std::string& content,
                    const std::string& date, const std::string& id) {
  return Head("Carol <carol@example.org>", subject, date, id) +
         "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\nContent-Type: "
         "text/plain\r\n\r\nSee.\r\n--b\r\nContent-Type: application/pdf\r\n"
         "Content-Disposition: attachment; filename=\"" +
         name + "\"\r\n\r\n" + content + "\r\n--b--\r\n";
}

std::set<std::string> Names(const Files& files) {
  std::set<std::string> names;
  for (const auto& [name, bytes] : files)
    if (bytes != "<dir>") names.insert(name);
  return names;
}

class OptionsExportTest : public MailsiftTest {
 protected:
  void MakeStore() {
    Add({}, {OutlookMail(), AppleMail()});
    for (int i = 1; i <= 3; ++i)
      Add({}, {PdfMail("Fwd: contract " + std::to_string(i), "contract.pdf", kContract,
                       "Wed, 03 Jan 2024 1" + std::to_string(i) + ":00:00 +0000",
                       "fwd" + std::to_string(i))});
    Add({}, {PdfMail("Scan, first", "scan.pdf", kScanA, "Thu, 04 Jan 2024 10:00:00 +0000", "s1"),
             PdfMail("Scan, second", "scan.pdf", kScanB, "Thu, 04 Jan 2024 11:00:00 +0000", "s2")});
    Add({"Junk"}, {PdfMail("Win", "prize.pdf", "spam", "Fri, 05 Jan 2024 10:00:00 +0000", "j")});
    Add({"Work"}, {MailWithAttachment("W", "w.txt", "w")});
    Add({"Work", "Projects", "Deep"},
        {MailWithAttachment("D", "plan.docx", "plan", "A@Example.ORG")});
    Open();
  }

  ExportOutcome Export(const std::string& dir, ExportOptions options,
                       MessageExport kind = MessageExport::kAttachments, int folder = 0) {
    OptionsExportRequest request;
    request.kind = kind;
    request.folder = folder;
    request.target = dir;
    request.options = std::move(options);
    NoProgress progress;
    return ExportWithOptions(dialog_->Control(), request, progress);
  }
  // The drop-down shows a top folder as its name and its count: "Work (1)".
  int Position(const std::string& name) {
    return Folders()->findText(QString::fromStdString(name + " ("), Qt::MatchStartsWith);
  }
};

ExportOptions With(std::initializer_list<std::pair<const char*, const char*>> flags) {
  ExportOptions o;
  for (const auto& [flag, value] : flags) {
    const std::string error = FindExportOption(flag)->apply(o, value ? value : "");
    EXPECT_EQ(error, "") << flag;
  }
  return o;
}

// The filters alone and combined, by the files they write: the Inbox holds
// image001.png (cid: logo), invoice.pdf, photo.jpg (inline in related),
// report.pdf (inline PDF), contract.pdf three times, scan.pdf twice (two
// different files of one size). --skip-embedded and --skip-duplicates are
// counted in the report's test, --set-times against the plain export.
TEST_F(OptionsExportTest, EachOptionWritesTheFilesItShould) {
  MakeStore();
  const std::set<std::string> inbox = {"image001.png",     "invoice.pdf",  "photo.jpg",
                                       "report.pdf",       "contract.pdf", "contract (2).pdf",
                                       "contract (3).pdf", "scan.pdf",     "scan (2).pdf"};
  auto without = [&](std::set<std::string> names, std::initializer_list<const char*> gone) {
    for (const char* g : gone) names.erase(g);
    return names;
  };
  const struct {
    ExportOptions options;
    int folder;
    std::set<std::string> written;
  } cases[] = {
      {With({{"--type", "documents"}}), 0, without(inbox, {"image001.png", "photo.jpg"})},
      {With({{"--type", "png,.jpg"}}), 0, {"image001.png", "photo.jpg"}},
      {With({{"--min-size", "20"}, {"--max-size", "21"}}),
       0,
       {"invoice.pdf", "contract.pdf", "contract (2).pdf", "contract (3).pdf"}},
      {With({{"--until", "2024-01-01"}}), 0, {"image001.png", "invoice.pdf"}},
      {With({{"--since", "2024-01-01"}, {"--subject", "MÄRZ"}}), 0, {"photo.jpg", "report.pdf"}},
      {With({{"--from", "tax.example"}}), 0, {"image001.png", "invoice.pdf"}},
      {With({{"--from", "carol"}, {"--subject", "scan"}}), 0, {"scan.pdf", "scan (2).pdf"}},
      {With({{"--recursive", nullptr}}),
       Position("Work"),
       {"Work/w.txt", "Work/Projects/Deep/plan.docx"}},
      {With({{"--recursive", nullptr}, {"--flat", nullptr}}),
       Position("Work"),
       {"w.txt", "plan.docx"}},
      {With({{"--all", nullptr}, {"--type", "docx,zip"}}), 0, {"Work/Projects/Deep/plan.docx"}},
      {With({{"--all", nullptr}, {"--include-junk", nullptr}, {"--subject", "win"}}),
       0,
       {"Junk/prize.pdf"}},
      {With({{"--all", nullptr},
             {"--skip-embedded", nullptr},
             {"--skip-duplicates", nullptr},
             {"--type", "pdf"}}),
       0,
       {"Inbox/invoice.pdf", "Inbox/report.pdf", "Inbox/contract.pdf", "Inbox/scan.pdf",
        "Inbox/scan (2).pdf"}},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string dir = NewDir("case" + std::to_string(n++));
    const ExportOutcome outcome = Export(dir, c.options, MessageExport::kAttachments, c.folder);
    const Files files = Tree(dir);
    EXPECT_EQ(Names(files), c.written) << c.options.Described();
    EXPECT_EQ(outcome.written, static_cast<long>(c.written.size())) << c.options.Described();
    EXPECT_EQ(outcome.failed, 0);
    // Never a different file dropped: the two scans keep their own bytes.
    if (files.count("scan (2).pdf")) {
      EXPECT_EQ(files.at("scan.pdf"), kScanA);
      EXPECT_EQ(files.at("scan (2).pdf"), kScanB);
    }
  }
}

TEST_F(OptionsExportTest, TheReportSaysWhatHappenedToEachAttachment) {
  MakeStore();
  const std::string dir = NewDir("r");
  ExportOptions o = With({{"--skip-embedded", nullptr},
                          {"--skip-duplicates", nullptr},
                          {"--max-size", "1K"},
                          {"--set-times", nullptr}});
  o.report = out_ + "/report.csv";
  // The counts are the dialog's test's: 5 written, 2 duplicates, 2 embedded.
  Export(dir, o);
  const std::string csv = mqtest::ReadFile(o.report);
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < csv.size();) {
    const std::size_t end = csv.find("\r\n", at);
    ASSERT_NE(end, std::string::npos) << "every line ends in CR LF";
    lines.push_back(csv.substr(at, end - at));
    at = end + 2;
  }
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[0],
            "outcome,detail,path,folder,date,sender,subject,message_id,name,size,sha256,container,"
            "partial");
  EXPECT_EQ(lines[1],
            "left out,embedded,,Inbox,2023-12-30T10:00:00Z,Anna Accountant,Invoice "
            "December,<outlook@test>,image001.png,,,,");
  EXPECT_EQ(lines[2],
            "written,,invoice.pdf,Inbox,2023-12-30T10:00:00Z,Anna Accountant,Invoice December,"
            "<outlook@test>,invoice.pdf,21,"
            "a88460efd08398ea6497da7c5c665b823960e8713f1bebcb4d6e464757d340c6,,");
  EXPECT_THAT(lines[4],
              ::testing::StartsWith(
                  "written,,report.pdf,Inbox,2024-01-02T08:00:00Z,Bob,Rechnung für März,"));
  EXPECT_THAT(lines[6], ::testing::StartsWith("duplicate,contract.pdf,,Inbox,"));
  // A subject with a comma is quoted.
  EXPECT_THAT(lines[8], ::testing::HasSubstr(",\"Scan, first\","));
  // File times are the messages' sent dates.
  struct stat st {};
  ASSERT_EQ(stat((dir + "/invoice.pdf").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 1703930400);  // 2023-12-30T10:00:00Z

  // A report the disk has no room for is said with its reason and removed.
  std::filesystem::remove(o.report);
  files::FailWritesFrom(1, ENOSPC);
  try {
    Export(NewDir("full"), o);
    ADD_FAILURE() << "a report that was not written passed for written";
  } catch (const FileError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot write the report \"" + o.report + "\": the disk is full");
  }
  files::ClearWriteFailure();
  EXPECT_FALSE(std::filesystem::exists(o.report));
}

// winmail.dat unpacked and the files of forwarded messages, each row of the
// report naming where its file came from; without the options both stay packed.
TEST_F(OptionsExportTest, WinmailAndForwardedMessagesUnpackOnRequest) {
  using mime::testing::Tnef;
  const std::string tnef = Tnef().File("PLAN.PDF", "%PDF plan").File("NOTES.TXT", "notes").bytes();
  const std::string forwarded =
      Head("Dan <dan@example.org>", "Q3 figures", "Mon, 08 Jan 2024 10:00:00 +0000", "inner") +
      "Content-Type: multipart/mixed; boundary=\"i\"\r\n\r\n"
      "--i\r\nContent-Type: text/plain\r\n\r\nFigures.\r\n"
      "--i\r\nContent-Type: application/pdf; name=\"q3.pdf\"\r\n\r\n"
      "%PDF q3\r\n--i--\r\n";
  Add({}, {Head("Eve <eve@example.org>", "Packed", "Tue, 09 Jan 2024 10:00:00 +0000", "outer") +
           "Content-Type: multipart/mixed; boundary=\"o\"\r\n\r\n"
           "--o\r\nContent-Type: text/plain\r\n\r\nSee.\r\n"
           "--o\r\nContent-Type: application/ms-tnef; name=\"winmail.dat\"\r\n"
           "Content-Transfer-Encoding: base64\r\n\r\n" +
           Base64(tnef) + "\r\n--o\r\nContent-Type: message/rfc822\r\n\r\n" + forwarded +
           "\r\n--o--\r\n"});
  Open();
  const std::string plain = NewDir("plain");
  Export(plain, With({{"--set-times", nullptr}}));
  EXPECT_EQ(Names(Tree(plain)), (std::set<std::string>{"winmail.dat", "Q3 figures.eml"}));
  ExportOptions o = With({{"--unpack-winmail", nullptr}, {"--nested", nullptr}});
  o.report = out_ + "/unpacked.csv";
  const std::string dir = NewDir("unpacked");
  EXPECT_EQ(Export(dir, o).written, 4);
  const Files files = Tree(dir);
  EXPECT_EQ(Names(files),
            (std::set<std::string>{"PLAN.PDF", "NOTES.TXT", "Q3 figures.eml", "q3.pdf"}));
  EXPECT_EQ(files.at("PLAN.PDF"), "%PDF plan");
  const std::string csv = mqtest::ReadFile(o.report);
  EXPECT_THAT(csv, ::testing::HasSubstr(",PLAN.PDF,9,"));
  EXPECT_THAT(csv, ::testing::HasSubstr(",winmail.dat,\r\n"));
  EXPECT_THAT(csv, ::testing::HasSubstr(",q3.pdf,7,"));
  EXPECT_THAT(csv, ::testing::HasSubstr(",Q3 figures,\r\n"));
}

TEST_F(OptionsExportTest, NewOnlyExportsWhatIsNewAndSurvivesARenamedFolder) {
  MakeStore();
  const std::string dir = NewDir("n");
  const ExportOptions o =
      With({{"--all", nullptr}, {"--new-only", nullptr}, {"--skip-duplicates", nullptr}});
  ExportOutcome first = Export(dir, o);
  EXPECT_EQ(first.written, 9);
  EXPECT_TRUE(first.notices.empty());  // no record yet is no damaged record
  const Files before = Tree(dir);

  ExportOutcome second = Export(dir, o);
  EXPECT_EQ(second.written, 0);
  EXPECT_EQ(second.exportedBefore, 9);
  EXPECT_EQ(Tree(dir), before);

  // Two new messages: one with a new file, one forwarding the contract again.
  Add({"Work"},
      {PdfMail("New", "new.pdf", "%PDF new", "Mon, 08 Jan 2024 10:00:00 +0000", "n1"),
       PdfMail("Fwd again", "c.pdf", kContract, "Mon, 08 Jan 2024 11:00:00 +0000", "n2")});
  // A folder renamed does not make its messages new.
  fs::rename(fixture_.root() + "/.Work", fixture_.root() + "/.Office");
  fs::rename(fixture_.root() + "/.Work.Projects", fixture_.root() + "/.Office.Projects");
  fs::rename(fixture_.root() + "/.Work.Projects.Deep", fixture_.root() + "/.Office.Projects.Deep");
  dialog_.reset();
  Open();
  ExportOutcome third = Export(dir, o);
  EXPECT_EQ(third.exportedBefore, 9);
  EXPECT_EQ(third.written, 1);
  EXPECT_EQ(third.duplicates, 1);  // recorded from the first run by size and SHA-256
  EXPECT_TRUE(fs::exists(dir + "/Office/new.pdf"));

  // A damaged record is said and left alone; the export then writes everything.
  std::ofstream(dir + "/.mailsift-exported", std::ios::trunc) << "mailsift-exported 1\nm\tzz\n";
  ExportOutcome damaged = Export(dir, o);
  EXPECT_EQ(damaged.exportedBefore, 0);
  ASSERT_EQ(damaged.notices.size(), 1u);
  EXPECT_THAT(damaged.notices[0], ::testing::HasSubstr("damaged at line 2"));
  EXPECT_EQ(mqtest::ReadFile(dir + "/.mailsift-exported"), "mailsift-exported 1\nm\tzz\n");
}

TEST_F(OptionsExportTest, EmlAndReturnAddressesOverSeveralFolders) {
  MakeStore();
  const std::string dir = NewDir("eml");
  Export(dir, With({{"--all", nullptr}, {"--since", "2024-01-03"}}), MessageExport::kEml);
  EXPECT_EQ(
      Names(Tree(dir)),
      (std::set<std::string>{"Inbox/contract 1.eml", "Inbox/contract 2.eml", "Inbox/contract 3.eml",
                             "Inbox/Scan, first.eml", "Inbox/Scan, second.eml"}));
  const std::string lines = out_ + "/addresses.txt";
  ExportOutcome outcome = Export(lines, With({{"--all", nullptr}, {"--unique", nullptr}}),
                                 MessageExport::kReturnAddresses);
  // Only Return-Path gives a return address: Work's and Deep's mails, one
  // address in two spellings.
  EXPECT_EQ(mqtest::ReadFile(lines), "a@example.org\r\n");
  EXPECT_EQ(outcome.duplicates, 1);
}

// The dialog's Options... button and the options dialog, clicked through
// their windows: the choices hold, the button says they are on, an export
// honours them, a bad value is refused, Reset turns every choice off.
TEST_F(OptionsExportTest, TheOptionsDialogIsClickedThroughAndHonoured) {
  MakeStore();
  dialog_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog_.get()));
  auto* button = static_cast<QPushButton*>(dialog_->Item(kIdOptions));
  EXPECT_EQ(button->text(), "&Options...");
  std::function<void(COptionsDlg&)> clicks;
  runOptions_ = [&](COptionsDlg& options) {
    options.show();
    options.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&options));
    EXPECT_THAT(ui::testing::CoveredChildren(&options), ::testing::IsEmpty());
    clicks(options);
    return options.result() == QDialog::Accepted;
  };
  auto click = [](COptionsDlg& options, int id) { ui::testing::Click(options.Item(id)); };
  clicks = [&](COptionsDlg& options) {
    click(options, kIdSkipEmbedded);
    click(options, kIdSkipDuplicates);
    click(options, kIdReport);
    click(options, kIdOptionsOk);
  };
  ui::testing::Click(button);
  EXPECT_EQ(button->text(), "&Options (on)...");
  EXPECT_TRUE(dialog_->Options().options.skipEmbedded && dialog_->Options().report);

  Run(&CMailsiftDlg::OnExportAttachments, NewDir("clicked"));
  EXPECT_EQ(Names(Tree(out_ + "/clicked")),
            (std::set<std::string>{"invoice.pdf", "report.pdf", "contract.pdf", "scan.pdf",
                                   "scan (2).pdf", kDialogReportName}));
  EXPECT_THAT(LastMessage(),
              ::testing::HasSubstr("5 attachments written into " + out_ +
                                   "/clicked; left out: 2 duplicates, 2 by the filters"));

  // A size that is none stays in the dialog with a message; Cancel keeps what was.
  clicks = [&](COptionsDlg& options) {
    static_cast<QLineEdit*>(options.Item(kIdMinSize))->setText("5 parsecs");
    click(options, kIdOptionsOk);
    EXPECT_TRUE(options.isVisible());
    click(options, kIdOptionsCancel);
  };
  ui::testing::Click(button);
  EXPECT_THAT(LastMessage(), ::testing::HasSubstr("not a size"));
  EXPECT_FALSE(dialog_->Options().options.minSize);
  EXPECT_TRUE(dialog_->Options().options.skipEmbedded);

  clicks = [&](COptionsDlg& options) {
    auto* embedded = static_cast<QCheckBox*>(options.Item(kIdSkipEmbedded));
    EXPECT_TRUE(embedded->isChecked());
    // Every choice is reachable from the keyboard too.
    QTest::keyClick(&options, Qt::Key_E, Qt::AltModifier);
    // A mnemonic presses the button as a click does, released a moment later.
    for (int i = 0; i < 50 && embedded->isChecked(); ++i) QTest::qWait(20);
    EXPECT_FALSE(embedded->isChecked());
    QTest::keyClick(&options, Qt::Key_F, Qt::AltModifier);
    EXPECT_TRUE(options.Item(kIdSince)->hasFocus());
    click(options, kIdOptionsReset);
    click(options, kIdOptionsOk);
  };
  ui::testing::Click(button);
  EXPECT_FALSE(dialog_->Options().AnyOn());
  EXPECT_EQ(button->text(), "&Options...");
}

}  // namespace
}  // namespace mailsift
