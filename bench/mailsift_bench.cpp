// Times Mailsift's exports run headless through the dialog code, against the
// command-line tools that do the same job and against the same control calls
// made directly (one collection reference, no proxies, no name keeping):
//   Export Attachments  against  munpack -q -C OUT FILES...   (one process)
//   Export to eml       against  cp FILES... OUT/
//   every export        against  its control calls made directly (the program's overhead)
// over a folder of large messages with base64 attachments and a folder of
// small messages. Every side writes into a fresh, never-used directory.
// Usage: mailsift_bench [large count, default 2000] [attachment KB, default 512]
//                       [small count, default 30000]
// Needs the modules in the program's own directory and munpack on $PATH.
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "control/dispids.h"
#include "control/guids.h"
#include "extractor/automation_call.h"
#include "extractor/mailsift_dlg.h"
#include "platform/ui/control_host.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
namespace dispid = mq::dispid;

namespace {

fs::path g_root;
int g_fresh = 0;

// A directory nobody has used yet.
std::string FreshDir(const std::string& what) {
  fs::path dir = g_root / "out" / (what + "-" + std::to_string(++g_fresh));
  fs::create_directories(dir);
  return dir.string();
}

// Earlier sides' writes are flushed first, so no side pays for another's.
double Seconds(const std::function<void()>& run) {
  sync();
  auto start = Clock::now();
  run();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void Run(const std::string& command) {
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
}

// `count` messages in `dir`; with `attachmentKb`, each carries one base64
// attachment of about that size, else each is a small text message.
std::vector<std::string> MakeFolder(const fs::path& dir, int count, int attachmentKb) {
  fs::create_directories(dir / "cur");
  fs::create_directories(dir / "new");
  fs::create_directories(dir / "tmp");
  std::vector<std::string> files;
  std::string line;
  for (int c = 0; c < 76; ++c)
    line += "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"[(c * 7) % 64];
  for (int i = 0; i < count; ++i) {
    fs::path file = dir / "cur" / ("1167707045.M" + std::to_string(i) + "P1.bench:2,S");
    std::ofstream out(file, std::ios::binary);
    out << "Return-Path: <sender" << i << "@example.org>\r\nFrom: <sender" << i
        << "@example.org>\r\nTo: me@example.org\r\nSubject: Message " << i
        << "\r\nMIME-Version: 1.0\r\n";
    if (attachmentKb > 0) {
      out << "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
             "Content-Type: text/plain\r\n\r\nSee the file.\r\n--b\r\n"
             "Content-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n"
             "Content-Disposition: attachment; filename=\"file"
          << i << ".bin\"\r\n\r\n";
      for (int l = 0, lines = attachmentKb * 1024 / 78; l < lines; ++l) out << line << "\r\n";
      out << "--b--\r\n";
    } else {
      out << "Content-Type: text/plain\r\n\r\n";
      for (int l = 0; l < 20; ++l) out << "Some text of the message, line " << l << ".\r\n";
    }
    files.push_back(file.string());
  }
  return files;
}

std::string Join(const std::vector<std::string>& files) {
  std::string all;
  for (const std::string& f : files) all += " '" + f + "'";
  return all;
}

// The same control calls as the program makes, made directly.
class DirectCalls {
 public:
  DirectCalls() {
    host_.Create(mq::CLSID_Mailquarry);
    host_.Activate(nullptr, ui::Rect::FromSize(0, 0, 10, 10));
    control_ = host_.Dispatch();
  }
  ~DirectCalls() { host_.Close(); }
  long Select(int folder) {
    com::Variant index = com::Variant::I2(static_cast<SHORT>(folder));
    mailsift::InvokeById(control_.Get(), dispid::control::kFolder, DISPATCH_PROPERTYPUT, &index, 1,
                         VT_EMPTY);
    com::Variant v = mailsift::InvokeById(control_.Get(), dispid::control::kMessages,
                                          DISPATCH_PROPERTYGET, nullptr, 0, VT_DISPATCH);
    messages_ = com::ComPtr<IDispatch>(v.pdispVal);
    return mailsift::InvokeById(messages_.Get(), dispid::messages::kCount, DISPATCH_PROPERTYGET,
                                nullptr, 0, VT_I2)
        .iVal;
  }
  com::Variant Call(DISPID id, long index, const std::string* text, VARTYPE result) {
    com::Variant args[2] = {com::Variant::I4(index),
                            text ? com::Variant::Str(*text) : com::Variant()};
    return mailsift::InvokeById(messages_.Get(), id, DISPATCH_METHOD, args, text ? 2 : 1, result);
  }

 private:
  ui::ControlHost host_{true};
  com::ComPtr<IDispatch> control_;
  com::ComPtr<IDispatch> messages_;
};

struct Folder {
  const char* name;
  int index;  // in the control's folder list
  std::vector<std::string> files;
};

void Ratio(const char* what, double ours, const char* baseline, double theirs) {
  std::printf("  %-28s %8.2f s   %-24s %8.2f s   ratio %.2f\n", what, ours, baseline, theirs,
              ours / theirs);
}

}  // namespace

int main(int argc, char** argv) {
  const int largeCount = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int attachmentKb = argc > 2 ? std::atoi(argv[2]) : 512;
  const int smallCount = argc > 3 ? std::atoi(argv[3]) : 30000;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("MQ_HEADLESS", "1", 1);  // no progress dialog, no message boxes

  char base[] = "/tmp/mailsift-bench-XXXXXX";
  g_root = mkdtemp(base);
  const fs::path bin = fs::canonical("/proc/self/exe").parent_path();
  setenv("MAILQUARRY_REGISTRY", (g_root / "registry").c_str(), 1);
  setenv("MAILDIR", (g_root / "Maildir").c_str(), 1);
  setenv("MAILQUARRY_ADDRESSBOOK", (g_root / "book").c_str(), 1);
  fs::create_directories(g_root / "book");
  Run("'" + (bin / "regsvr").string() + "' '" + (bin / "MailStore.so").string() + "' >/dev/null");
  Run("'" + (bin / "regsvr").string() + "' '" + (bin / "Mailquarry.ocx").string() + "' >/dev/null");

  std::printf("making %d messages with %d KB attachments and %d small ones in %s\n", largeCount,
              attachmentKb, smallCount, g_root.c_str());
  fs::create_directories(g_root / "Maildir" / "cur");
  fs::create_directories(g_root / "Maildir" / "new");
  fs::create_directories(g_root / "Maildir" / "tmp");
  // Folder order in the control: Inbox, then the others by name.
  Folder large{"Large", 1, MakeFolder(g_root / "Maildir" / ".Large", largeCount, attachmentKb)};
  Folder small{"Small", 2, MakeFolder(g_root / "Maildir" / ".Small", smallCount, 0)};

  int qargc = 1;
  char name[] = "mailsift_bench";
  char* qargv[] = {name, nullptr};
  QApplication app(qargc, qargv);
  ui::ScriptedUserPrompts prompts;
  mailsift::DialogServices services = mailsift::SystemServices(&prompts);
  mailsift::CMailsiftDlg dialog(services);
  QString error;
  if (!dialog.OnInitDialog(&error)) {
    std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
    return 1;
  }
  auto* folders = static_cast<QComboBox*>(dialog.Item(mailsift::kIdFolder));
  DirectCalls direct;
  // Warm up: the store indexes each folder once, and the files are read into
  // the page cache before any side is timed.
  for (Folder* f : {&large, &small}) {
    direct.Select(f->index);
    Run("cat" + Join(f->files) + " >/dev/null");
  }

  auto viaDialog = [&](Folder& f, void (mailsift::CMailsiftDlg::*command)(), bool asksFile,
                       const std::string& out) {
    folders->setCurrentIndex(f.index);
    (asksFile ? prompts.saveNames : prompts.directories).push_back(QString::fromStdString(out));
    return Seconds([&] { (dialog.*command)(); });
  };

  for (Folder* f : {&large, &small}) {
    std::printf("%s: %zu messages\n", f->name, f->files.size());
    const long count = direct.Select(f->index) & 0xFFFF;

    // Export Attachments.
    double ours =
        viaDialog(*f, &mailsift::CMailsiftDlg::OnExportAttachments, false, FreshDir("attachments"));
    const std::string directDir = FreshDir("attachments-direct") + "/";
    double directTime = Seconds([&] {
      direct.Select(f->index);
      for (long i = 0; i < count; ++i)
        direct.Call(dispid::messages::kExtractAttachment, i, &directDir, VT_BOOL);
    });
    if (f == &large) {
      const std::string out = FreshDir("munpack");
      double munpack = Seconds(
          [&] { Run("munpack -q -C '" + out + "'" + Join(f->files) + " >/dev/null 2>&1"); });
      Ratio("Export Attachments", ours, "munpack -q -C", munpack);
    }
    Ratio("Export Attachments", ours, "direct control calls", directTime);

    // Export to eml.
    ours = viaDialog(*f, &mailsift::CMailsiftDlg::OnExportEml, false, FreshDir("eml"));
    const std::string emlDir = FreshDir("eml-direct");
    directTime = Seconds([&] {
      direct.Select(f->index);
      for (long i = 0; i < count; ++i) {
        std::string subject = com::Utf8FromBstr(
            direct.Call(dispid::messages::kFindSubject, i, nullptr, VT_BSTR).bstrVal);
        std::string path = emlDir + "/" + subject + ".eml";
        direct.Call(dispid::messages::kSave2eml, i, &path, VT_BOOL);
      }
    });
    if (f == &large) {
      const std::string out = FreshDir("cp");
      double cp = Seconds([&] { Run("cp" + Join(f->files) + " '" + out + "/'"); });
      Ratio("Export to eml", ours, "cp", cp);
    }
    Ratio("Export to eml", ours, "direct control calls", directTime);

    // Export email to text file.
    ours = viaDialog(*f, &mailsift::CMailsiftDlg::OnExportEmailText, true,
                     FreshDir("text") + "/addresses.txt");
    const std::string textFile = FreshDir("text-direct") + "/addresses.txt";
    directTime = Seconds([&] {
      direct.Select(f->index);
      std::FILE* out = std::fopen(textFile.c_str(), "ab");
      for (long i = 0; i < count; ++i) {
        std::string address = com::Utf8FromBstr(
            direct.Call(dispid::messages::kFindReturnEmail, i, nullptr, VT_BSTR).bstrVal);
        if (!address.empty()) std::fprintf(out, "%s\r\n", address.c_str());
      }
      std::fclose(out);
    });
    Ratio("Export email to text file", ours, "direct control calls", directTime);
  }
  std::printf("(ratios below 1.05 against the direct calls mean under 5%% overhead)\n");
  std::error_code ec;
  fs::remove_all(g_root, ec);
  return 0;
}
