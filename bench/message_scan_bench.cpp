// SPDX-License-Identifier: LGPL-2.1-or-later
// Times the return-address scan and the attachment export over the mail store
// against the command-line tools that do the same job, on two generated
// folders:
//   small: single-part text messages of 1 to 16 KB (default 30,000)
//   large: messages with one base64 attachment each (default 2,000 of 512 KB)
// and reports, each against its peer measured in the same run:
//   FindReturnEmail of every message    against  maddr -a -h return-path (goal <= 3x)
//   ExtractAttachment of every message  against  munpack -q -C DIR      (goal <= 0.5x)
//   GetAttachmentCount of a message without attachments                (goal < 15 us)
// Every export writes into a directory of its own that was never used
// before: file creation in a directory just emptied is slow and noisy here.
// Needs maddr (Debian mblaze) and munpack (Debian mpack) in PATH.
// Usage: message_scan_bench [small count] [large count] [attachment KB]
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "control/messages_ops/message_ops.h"
#include "platform/store/objects.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Record {
  std::string subject;
  MESSAGEID id;
};

void Header(std::ofstream& out, int i) {
  out << "Return-Path: <sender" << i << "@example.org>\r\nDelivered-To: me@example.org\r\n"
      << "Received: by mx.example.org\r\nFrom: Sender <sender" << i
      << "@example.org>\r\nTo: me@example.org\r\nSubject: Message " << i
      << "\r\nDate: Sat, 3 Feb 2001 04:05:06 +0000\r\nMIME-Version: 1.0\r\n";
}

void MakeSmall(const fs::path& dir, int count) {
  fs::create_directories(dir);
  unsigned seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 8) & 0xFFFF; };
  for (int i = 0; i < count; ++i) {
    std::ofstream out(dir / (std::to_string(i) + ".small:2,S"), std::ios::binary);
    Header(out, i);
    out << "Content-Type: text/plain; charset=utf-8\r\n\r\n";
    const int lines = 12 + static_cast<int>(next() % 200);
    for (int l = 0; l < lines; ++l) out << "Some text of the message, line " << l << ".\r\n";
  }
}

void MakeLarge(const fs::path& dir, int count, int attachmentKb) {
  fs::create_directories(dir);
  std::string line(76, 'Q');
  line += "\r\n";
  std::string body;
  for (int l = 0; l < attachmentKb * 1024 / 57; ++l) body += line;  // 57 bytes a line
  for (int i = 0; i < count; ++i) {
    std::ofstream out(dir / (std::to_string(i) + ".large:2,S"), std::ios::binary);
    Header(out, i);
    out << "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
           "Content-Type: text/plain\r\n\r\nSee the file.\r\n--b\r\n"
           "Content-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n"
           "Content-Disposition: attachment; filename=\"file"
        << i << ".bin\"\r\n\r\n"
        << body << "--b--\r\n";
  }
}

double Seconds(const std::function<void()>& run) {
  auto start = Clock::now();
  run();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The best of `repeats` runs; `run` gets the run's number.
double Best(int repeats, const std::function<void(int)>& run) {
  double best = 1e9;
  for (int r = 0; r < repeats; ++r) best = std::min(best, Seconds([&] { run(r); }));
  return best;
}

void Shell(const std::string& command) {
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
}

// A folder opened through the store, with its message list.
struct Opened {
  com::ComPtr<IStoreNamespace> ns;
  com::ComPtr<IStoreFolder> folder;
  std::vector<Record> records;
};

bool Open(const fs::path& maildir, Opened* o) {
  setenv("MAILDIR", maildir.c_str(), 1);
  if (FAILED(store::CreateStoreNamespace(IID_IStoreNamespace, o->ns.ReleaseAndGetVoidAddress())) ||
      FAILED(o->ns->Initialize(nullptr, 0)) ||
      FAILED(o->ns->OpenSpecialFolder(FOLDER_INBOX, 0, o->folder.ReleaseAndGetAddressOf()))) {
    return false;
  }
  MESSAGEPROPS props{};
  props.cbSize = MESSAGEPROPS_SIZE;
  HENUMSTORE handle = nullptr;
  for (HRESULT hr = o->folder->GetFirstMessage(0, 0, MESSAGEID_FIRST, &props, &handle);
       SUCCEEDED(hr) && hr != S_FALSE; hr = o->folder->GetNextMessage(handle, 0, &props)) {
    o->records.push_back({props.pszNormalSubject ? props.pszNormalSubject : "", props.dwMessageId});
    o->folder->FreeMessageProps(&props);
  }
  if (handle) o->folder->GetMessageClose(handle);
  return true;
}

void Compare(const char* what, double ours, double peer, const char* peerName, double goal) {
  std::printf("%-34s %8.3f s  %-10s %8.3f s  ratio %5.2f (goal <= %.1f)\n", what, ours, peerName,
              peer, ours / peer, goal);
}

void RunFolder(const char* name, const fs::path& root, const fs::path& maildir, bool extract) {
  Opened o;
  if (!Open(maildir, &o)) {
    std::fprintf(stderr, "cannot open the store at %s\n", maildir.c_str());
    std::exit(1);
  }
  const int count = static_cast<int>(o.records.size());
  auto snapshot = msgops::SnapshotOf(o.records, [](const Record& r) {
    return msgops::MessageView{r.subject, {}, {}, {}, {}, 0, r.id};
  });
  msgops::MessageOps ops(snapshot, o.folder.Get());
  const std::string files = (maildir / "cur").string();
  std::printf("%s folder: %d messages\n", name, count);

  volatile std::size_t sink = 0;
  const double scan = Best(5, [&](int) {
    for (int i = 0; i < count; ++i) sink = sink + ops.FindReturnEmail(i).size();
  });
  const double maddr = Best(5, [&](int) {
    Shell("find '" + files + "' -type f -print0 | xargs -0 maddr -a -h return-path > /dev/null");
  });
  Compare("  FindReturnEmail, every message", scan, maddr, "maddr", 3);
  if (!extract) return;

  // Two runs a side, alternating, each into a directory never used before.
  double ours = 1e9, munpack = 1e9;
  for (int r = 0; r < 2; ++r) {
    const fs::path mine = root / (std::string(name) + "-ours" + std::to_string(r));
    fs::create_directories(mine);
    ours = std::min(ours, Seconds([&] {
                      for (int i = 0; i < count; ++i) ops.ExtractAttachment(i, mine.string() + "/");
                    }));
    const fs::path theirs = root / (std::string(name) + "-munpack" + std::to_string(r));
    fs::create_directories(theirs);
    // munpack answers non-zero for a message with nothing to unpack.
    munpack = std::min(munpack, Seconds([&] {
                         Shell("find '" + files + "' -type f -print0 | xargs -0 munpack -q -C '" +
                               theirs.string() + "' > /dev/null 2>&1 || true");
                       }));
  }
  Compare("  ExtractAttachment, every message", ours, munpack, "munpack", 0.5);
}

}  // namespace

int main(int argc, char** argv) {
  const int small = argc > 1 ? std::max(2, std::atoi(argv[1])) : 30000;
  const int large = argc > 2 ? std::max(2, std::atoi(argv[2])) : 2000;
  const int attachmentKb = argc > 3 ? std::max(1, std::atoi(argv[3])) : 512;
  std::string pattern = (fs::temp_directory_path() / "mq-scan-bench-XXXXXX").string();
  const fs::path root = mkdtemp(pattern.data());
  const fs::path smallDir = root / "small", largeDir = root / "large";
  for (const fs::path& m : {smallDir, largeDir})
    for (const char* sub : {"new", "tmp"}) fs::create_directories(m / sub);
  std::printf("generating in %s\n", root.c_str());
  MakeSmall(smallDir / "cur", small);
  MakeLarge(largeDir / "cur", large, attachmentKb);

  RunFolder("small", root, smallDir, true);
  {
    // GetAttachmentCount of messages that cannot carry an attachment.
    Opened o;
    Open(smallDir, &o);
    auto snapshot = msgops::SnapshotOf(o.records, [](const Record& r) {
      return msgops::MessageView{r.subject, {}, {}, {}, {}, 0, r.id};
    });
    msgops::MessageOps ops(snapshot, o.folder.Get());
    const int n = static_cast<int>(o.records.size());
    volatile int sink = 0;
    const double count = Best(5, [&](int) {
      for (int i = 0; i < n; ++i) sink = sink + ops.GetAttachmentCount(i);
    });
    // The floor: opening, reading the first page of and closing each file.
    std::vector<std::string> paths;
    for (const auto& e : fs::directory_iterator(smallDir / "cur")) paths.push_back(e.path());
    const double bare = Best(5, [&](int) {
      char page[4096];
      for (const std::string& p : paths) {
        int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
        sink = sink + static_cast<int>(::pread(fd, page, sizeof page, 0));
        ::close(fd);
      }
    });
    std::printf(
        "  GetAttachmentCount, no attachment: %.1f us a message (goal < 15); "
        "open+read+close alone: %.1f us; ratio %.2f\n",
        count / n * 1e6, bare / n * 1e6, count / bare);
  }
  RunFolder("large", root, largeDir, true);
  fs::remove_all(root);
  return 0;
}
