// SPDX-License-Identifier: LGPL-2.1-or-later
// Times the message exports against the command-line tools that do the same
// job, on the Inbox of a generated Maildir opened through the mail store:
//   Save2eml of every message        against  cp -r of the message files
//   FindSubject over every position  at half and at the full count (linear?)
//   ExtractAttachment of every message against munpack (when built with the
//                                     MIME layer)
// Usage: message_export_bench [message count, default 30000] [attachment KB]
// Without an attachment size the messages are of 1 to 16 KB; with one, every
// fourth message carries an attachment of about that size (base64 in the
// file), the shape of a folder where the decoding outweighs the parsing.
#include <stdlib.h>

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

// Messages of 1 to 16 KB; every fourth carries a base64 attachment, of
// `attachmentKb` when given.
void MakeFolder(const fs::path& dir, int count, int attachmentKb) {
  fs::create_directories(dir);
  unsigned seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 8) & 0xFFFF; };
  const std::string line(76, 'Q');
  for (int i = 0; i < count; ++i) {
    std::ofstream out(dir / (std::to_string(i) + ".bench:2,S"), std::ios::binary);
    out << "Return-Path: <sender" << i << "@example.org>\r\nFrom: Sender <sender" << i
        << "@example.org>\r\nTo: me@example.org\r\nSubject: Message " << i
        << "\r\nMIME-Version: 1.0\r\n";
    int lines = 12 + static_cast<int>(next() % 200);
    if (i % 4 == 0) {
      if (attachmentKb > 0) lines = attachmentKb * 1024 / 57;  // 57 bytes per base64 line
      out << "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
             "Content-Type: text/plain\r\n\r\nSee the file.\r\n--b\r\n"
             "Content-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n"
             "Content-Disposition: attachment; filename=\"file"
          << i << ".bin\"\r\n\r\n";
      for (int l = 0; l < lines; ++l) out << line << "\r\n";
      out << "--b--\r\n";
    } else {
      out << "Content-Type: text/plain\r\n\r\n";
      for (int l = 0; l < lines; ++l) out << "Some text of the message, line " << l << ".\r\n";
    }
  }
}

double Seconds(const std::function<void()>& run, int repeats = 2) {
  double best = 1e9;
  for (int r = 0; r < repeats; ++r) {
    auto start = Clock::now();
    run();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

void Shell(const std::string& command) {
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::max(2, std::atoi(argv[1])) : 30000;
  const int attachmentKb = argc > 2 ? std::max(0, std::atoi(argv[2])) : 0;
  std::string pattern = (fs::temp_directory_path() / "mq-export-bench-XXXXXX").string();
  const fs::path root = mkdtemp(pattern.data());
  const fs::path maildir = root / "Maildir";
  const fs::path src = maildir / "cur";
  fs::create_directories(maildir / "new");
  fs::create_directories(maildir / "tmp");
  std::printf("generating %d messages in %s\n", count, src.c_str());
  MakeFolder(src, count, attachmentKb);

  // The Inbox through the store; its first read builds the index (untimed).
  setenv("MAILDIR", maildir.c_str(), 1);
  com::ComPtr<IStoreNamespace> ns;
  com::ComPtr<IStoreFolder> folder;
  if (FAILED(store::CreateStoreNamespace(IID_IStoreNamespace, ns.ReleaseAndGetVoidAddress())) ||
      FAILED(ns->Initialize(nullptr, 0)) ||
      FAILED(ns->OpenSpecialFolder(FOLDER_INBOX, 0, folder.ReleaseAndGetAddressOf()))) {
    std::fprintf(stderr, "cannot open the store\n");
    fs::remove_all(root);
    return 1;
  }
  std::vector<Record> records;
  MESSAGEPROPS props{};
  props.cbSize = MESSAGEPROPS_SIZE;
  HENUMSTORE handle = nullptr;
  for (HRESULT hr = folder->GetFirstMessage(0, 0, MESSAGEID_FIRST, &props, &handle);
       SUCCEEDED(hr) && hr != S_FALSE; hr = folder->GetNextMessage(handle, 0, &props)) {
    records.push_back({props.pszNormalSubject ? props.pszNormalSubject : "", props.dwMessageId});
    folder->FreeMessageProps(&props);
  }
  if (handle) folder->GetMessageClose(handle);
  if (records.size() != static_cast<size_t>(count)) {
    std::fprintf(stderr, "the store lists %zu messages\n", records.size());
    fs::remove_all(root);
    return 1;
  }
  auto snapshot = msgops::SnapshotOf(records, [](const Record& r) {
    return msgops::MessageView{r.subject, {}, {}, {}, {}, 0, r.id};
  });
  msgops::MessageOps ops(snapshot, folder.Get());

  const fs::path out = root / "eml";
  const double save = Seconds([&] {
    fs::remove_all(out);
    fs::create_directories(out);
    for (int i = 0; i < count; ++i) {  // the subjects are unique
      if (!ops.Save2eml(i, (out / (records[i].subject + ".eml")).string())) std::abort();
    }
  });
  const double cp = Seconds([&] {
    fs::remove_all(root / "cp");
    Shell("cp -r '" + src.string() + "' '" + (root / "cp").string() + "'");
  });
  std::printf("Save2eml x %d: %.3f s; cp -r: %.3f s; ratio %.2f (goal <= 1.5)\n", count, save, cp,
              save / cp);

  volatile std::size_t sink = 0;
  auto subjects = [&](int n) {
    std::vector<Record> part(records.begin(), records.begin() + n);
    auto view = msgops::SnapshotOf(part, [](const Record& r) {
      return msgops::MessageView{r.subject, {}, {}, {}, {}, 0, r.id};
    });
    msgops::MessageOps partOps(view, folder.Get());
    // A pass takes well under a millisecond: time 100 passes, report one.
    return Seconds(
               [&] {
                 for (int pass = 0; pass < 100; ++pass) {
                   for (int i = 0; i < n; ++i) sink = sink + partOps.FindSubject(i).size();
                 }
               },
               5) /
           100;
  };
  const double half = subjects(count / 2), full = subjects(count);
  std::printf("FindSubject over %d positions: %.3f ms; over %d: %.3f ms; ratio %.2f (linear: 2)\n",
              count / 2, half * 1e3, count, full * 1e3, full / half);

  const fs::path att = root / "att";
  const double extract = Seconds([&] {
    fs::remove_all(att);
    fs::create_directories(att);
    for (int i = 0; i < count; ++i) ops.ExtractAttachment(i, att.string() + "/");
  });
  const double munpack = Seconds([&] {
    fs::remove_all(root / "munpack");
    fs::create_directories(root / "munpack");
    // munpack answers non-zero for a message with nothing to unpack.
    Shell("find '" + src.string() + "' -type f -print0 | xargs -0 munpack -q -C '" +
          (root / "munpack").string() + "' > /dev/null 2>&1 || true");
  });
  std::printf("ExtractAttachment x %d: %.3f s; munpack: %.3f s; ratio %.2f (goal <= 0.5)\n", count,
              extract, munpack, extract / munpack);
  // The share of the MIME layer's parse alone.
  const double parse = Seconds([&] {
    for (int i = 0; i < count; ++i) {
      com::ComPtr<IMimeMessage> message;
      folder->OpenMessage(records[i].id, IID_IMimeMessage, message.ReleaseAndGetVoidAddress());
    }
  });
  std::printf("  of which opening (parsing) every message: %.3f s\n", parse);
  folder.Reset();
  ns.Reset();
  fs::remove_all(root);
  return 0;
}
