// SPDX-License-Identifier: LGPL-2.1-or-later
// Times Mailsift's exports run headless through the dialog code, against the
// command-line tools that do the same job and against the same control calls
// made directly (one collection reference, no proxies, no name keeping):
//   Export Attachments  against  munpack -q -C OUT FILES...   (one process)
//   Export to eml       against  cp FILES... OUT/
//   every export        against  its control calls made directly (the program's
//                                overhead), each side twice, the best of each
//   mailsift attachments  against  Export Attachments in the dialog (the command
//                                line's whole run, process start included)
// over a folder of large messages with base64 attachments and a folder of
// small messages. Every side writes into a fresh, never-used directory.
// Usage: mailsift_bench [large count, default 2000] [attachment KB, default 512]
//                       [small count, default 30000]
// Needs the modules in the program's own directory and munpack on $PATH.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <algorithm>
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

// Runs a program without a shell (the file lists are longer than one shell
// argument may be), its output thrown away; true when it exits with 0.
bool Run(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed\n", argv[0].c_str());
    return false;
  }
  return true;
}

std::vector<std::string> Concat(std::vector<std::string> head,
                                const std::vector<std::string>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

// Reads every file once, so that no side pays for the first read.
void ReadAll(const std::vector<std::string>& files) {
  std::vector<char> buffer(1 << 20);
  for (const std::string& f : files) {
    std::ifstream in(f, std::ios::binary);
    while (in.read(buffer.data(), buffer.size()) || in.gcount() > 0) {
    }
  }
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
  for (const char* module : {"MailStore.so", "Mailquarry.ocx"})
    if (!Run({(bin / "regsvr").string(), (bin / module).string()})) return 1;

  setvbuf(stdout, nullptr, _IOLBF, 0);
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
    ReadAll(f->files);
  }

  auto viaDialog = [&](Folder& f, void (mailsift::CMailsiftDlg::*command)(), bool asksFile,
                       const std::string& out) {
    folders->setCurrentIndex(f.index);
    (asksFile ? prompts.saveNames : prompts.directories).push_back(QString::fromStdString(out));
    return Seconds([&] { (dialog.*command)(); });
  };

  // Ours and the direct calls twice each, in the order ours, direct, direct,
  // ours, so that neither side always runs first; the best of each counts.
  auto compare = [](const char* what, const std::function<double()>& ours,
                    const std::function<double()>& direct) {
    double a = ours(), b = direct(), c = direct(), d = ours();
    double best = std::min(a, d);
    Ratio(what, best, "direct control calls", std::min(b, c));
    return best;
  };

  for (Folder* f : {&large, &small}) {
    std::printf("%s: %zu messages\n", f->name, f->files.size());
    const long count = direct.Select(f->index) & 0xFFFF;

    double ours = compare(
        "Export Attachments",
        [&] {
          return viaDialog(*f, &mailsift::CMailsiftDlg::OnExportAttachments, false,
                           FreshDir("attachments"));
        },
        [&] {
          const std::string dir = FreshDir("attachments-direct") + "/";
          return Seconds([&] {
            direct.Select(f->index);
            for (long i = 0; i < count; ++i)
              direct.Call(dispid::messages::kExtractAttachment, i, &dir, VT_BOOL);
          });
        });
    if (f == &large) {
      // The command line as a user runs it, quiet so that both sides print
      // nothing; three rounds of (command line, dialog, dialog, command line)
      // on this shared machine, the best of each side.
      auto commandLine = [&](const char* first) {
        const std::string out = FreshDir("cli-attachments");
        std::vector<std::string> argv = {(bin / "Mailsift").string(),
                                         "attachments",
                                         "--quiet",
                                         "--folder-index",
                                         std::to_string(f->index),
                                         out};
        if (first) argv.insert(argv.end() - 1, {"--first", first});
        return Seconds([&] { Run(argv); });
      };
      auto dialogCommand = [&] {
        return viaDialog(*f, &mailsift::CMailsiftDlg::OnExportAttachments, false,
                         FreshDir("attachments"));
      };
      double cli = 1e9, dlg = 1e9, start = 1e9;
      for (int round = 0; round < 3; ++round) {
        cli = std::min(cli, commandLine(nullptr));
        dlg = std::min({dlg, dialogCommand(), dialogCommand()});
        cli = std::min(cli, commandLine(nullptr));
        start = std::min(start, commandLine("1"));
      }
      Ratio("mailsift attachments", cli, "Export Attachments", dlg);
      std::printf("  (of which the command line's start, the run of --first 1: %.2f s)\n", start);
      const std::string out = FreshDir("munpack");
      double munpack = Seconds([&] { Run(Concat({"munpack", "-q", "-C", out}, f->files)); });
      Ratio("Export Attachments", ours, "munpack -q -C", munpack);
    }

    ours = compare(
        "Export to eml",
        [&] { return viaDialog(*f, &mailsift::CMailsiftDlg::OnExportEml, false, FreshDir("eml")); },
        [&] {
          const std::string dir = FreshDir("eml-direct");
          return Seconds([&] {
            direct.Select(f->index);
            for (long i = 0; i < count; ++i) {
              std::string subject = com::Utf8FromBstr(
                  direct.Call(dispid::messages::kFindSubject, i, nullptr, VT_BSTR).bstrVal);
              std::string path = dir + "/" + subject + ".eml";
              direct.Call(dispid::messages::kSave2eml, i, &path, VT_BOOL);
            }
          });
        });
    if (f == &large) {
      const std::string out = FreshDir("cp");
      double cp = Seconds([&] { Run(Concat(Concat({"cp"}, f->files), {out + "/"})); });
      Ratio("Export to eml", ours, "cp", cp);
    }

    compare(
        "Export email to text file",
        [&] {
          return viaDialog(*f, &mailsift::CMailsiftDlg::OnExportEmailText, true,
                           FreshDir("text") + "/addresses.txt");
        },
        [&] {
          const std::string file = FreshDir("text-direct") + "/addresses.txt";
          return Seconds([&] {
            direct.Select(f->index);
            std::FILE* out = std::fopen(file.c_str(), "ab");
            for (long i = 0; i < count; ++i) {
              std::string address = com::Utf8FromBstr(
                  direct.Call(dispid::messages::kFindReturnEmail, i, nullptr, VT_BSTR).bstrVal);
              if (!address.empty()) std::fprintf(out, "%s\r\n", address.c_str());
            }
            std::fclose(out);
          });
        });
  }
  std::printf(
      "(ratios below 1.05 against the direct calls or the dialog mean under 5%% "
      "overhead)\n");
  std::error_code ec;
  fs::remove_all(g_root, ec);
  return 0;
}
