// Times the message exports against the command-line tools that do the same
// job, on a generated folder of message files:
//   Save2eml of every message        against  cp -r of the message files
//   FindSubject over every position  at half and at the full count (linear?)
//   ExtractAttachment of every message against munpack (when built with the
//                                     MIME layer)
// Usage: message_export_bench [message count, default 30000]
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
#include "platform/com/memory.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

class FileStream final : public com::Object<IStream> {
 public:
  explicit FileStream(int fd) : fd_(fd) {}
  ~FileStream() override { ::close(fd_); }
  HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override {
    ssize_t n = ::read(fd_, pv, cb);
    if (n < 0) return STG_E_READFAULT;
    *pcbRead = static_cast<ULONG>(n);
    return S_OK;
  }
  HRESULT Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }
  HRESULT Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
  HRESULT SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT Commit(DWORD) override { return E_NOTIMPL; }
  HRESULT Revert() override { return E_NOTIMPL; }
  HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
  HRESULT Clone(IStream**) override { return E_NOTIMPL; }

 private:
  int fd_;
};

// A folder whose message n is the file <dir>/<n>.eml.
class FileFolder final : public com::Object<IStoreFolder> {
 public:
  explicit FileFolder(fs::path dir) : dir_(std::move(dir)) {}
  HRESULT OpenMessage(MESSAGEID id, REFIID riid, void** out) override {
    *out = nullptr;
    const std::string path = (dir_ / (std::to_string(id) + ".eml")).string();
    if (riid == IID_IStream) {
      int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) return STG_E_FILENOTFOUND;
      *out = static_cast<IStream*>(com::MakeObject<FileStream>(fd).Detach());
      return S_OK;
    }
#ifdef MQ_BENCH_WITH_MIME
    if (riid == IID_IMimeMessage) {
      return mime::OpenMessageFile(path.c_str(), reinterpret_cast<IMimeMessage**>(out));
    }
#endif
    return E_NOINTERFACE;
  }
  HRESULT GetFolderProps(DWORD, FOLDERPROPS*) override {
    return E_NOTIMPL;
  }
  HRESULT DeleteMessages(MESSAGEIDLIST*, DWORD, IProgressNotify*) override {
    return E_NOTIMPL;
  }
  HRESULT SetLanguage(DWORD, DWORD, MESSAGEIDLIST*) override {
    return E_NOTIMPL;
  }
  HRESULT MarkMessagesAsRead(BOOL, DWORD, MESSAGEIDLIST*) override {
    return E_NOTIMPL;
  }
  HRESULT SetFlags(MESSAGEIDLIST*, DWORD, DWORD, DWORD*) override {
    return E_NOTIMPL;
  }
  HRESULT SaveMessage(REFIID, void*, DWORD, MESSAGEID*) override {
    return E_NOTIMPL;
  }
  HRESULT BatchLock(DWORD, HBATCHLOCK*) override {
    return E_NOTIMPL;
  }
  HRESULT BatchFlush(DWORD, HBATCHLOCK) override {
    return E_NOTIMPL;
  }
  HRESULT BatchUnlock(DWORD, HBATCHLOCK) override {
    return E_NOTIMPL;
  }
  HRESULT CreateStream(HBATCHLOCK, DWORD, IStream**, MESSAGEID*) override {
    return E_NOTIMPL;
  }
  HRESULT CommitStream(HBATCHLOCK, DWORD, DWORD, IStream*, MESSAGEID, IMimeMessage*) override {
    return E_NOTIMPL;
  }
  HRESULT RegisterNotification(DWORD, HWND) override {
    return E_NOTIMPL;
  }
  HRESULT UnregisterNotification(DWORD, HWND) override {
    return E_NOTIMPL;
  }
  HRESULT GetMessageProps(MESSAGEID, DWORD, MESSAGEPROPS*) override {
    return E_NOTIMPL;
  }
  HRESULT FreeMessageProps(MESSAGEPROPS*) override {
    return E_NOTIMPL;
  }
  HRESULT GetFirstMessage(DWORD, DWORD, MESSAGEID, MESSAGEPROPS*, HENUMSTORE*) override {
    return E_NOTIMPL;
  }
  HRESULT GetNextMessage(HENUMSTORE, DWORD, MESSAGEPROPS*) override {
    return E_NOTIMPL;
  }
  HRESULT GetMessageClose(HENUMSTORE) override {
    return E_NOTIMPL;
  }

 private:
  fs::path dir_;
};

struct Record {
  std::string subject;
  MESSAGEID id;
};

// Messages of 1 to 16 KB; every fourth carries a base64 attachment.
void MakeFolder(const fs::path& dir, int count) {
  fs::create_directories(dir);
  unsigned seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 8) & 0xFFFF; };
  const std::string line(76, 'Q');
  for (int i = 0; i < count; ++i) {
    std::ofstream out(dir / (std::to_string(i) + ".eml"), std::ios::binary);
    out << "Return-Path: <sender" << i << "@example.org>\r\nFrom: Sender <sender" << i
        << "@example.org>\r\nTo: me@example.org\r\nSubject: Message " << i
        << "\r\nMIME-Version: 1.0\r\n";
    const int lines = 12 + static_cast<int>(next() % 200);
    if (i % 4 == 0) {
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
  std::string pattern = (fs::temp_directory_path() / "mq-export-bench-XXXXXX").string();
  const fs::path root = mkdtemp(pattern.data());
  const fs::path src = root / "src";
  std::printf("generating %d messages in %s\n", count, src.c_str());
  MakeFolder(src, count);

  std::vector<Record> records;
  for (int i = 0; i < count; ++i) records.push_back({"Message " + std::to_string(i), MESSAGEID(i)});
  auto snapshot = msgops::SnapshotOf(records, [](const Record& r) {
    return msgops::MessageView{r.subject, {}, {}, {}, {}, 0, r.id};
  });
  auto folder = com::MakeObject<FileFolder>(src);
  msgops::MessageOps ops(snapshot, folder.Get());

  const fs::path out = root / "eml";
  const double save = Seconds([&] {
    fs::remove_all(out);
    fs::create_directories(out);
    for (int i = 0; i < count; ++i) {
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
    return Seconds(
        [&] {
          for (int i = 0; i < n; ++i) sink = sink + partOps.FindSubject(i).size();
        },
        5);
  };
  const double half = subjects(count / 2), full = subjects(count);
  std::printf("FindSubject over %d positions: %.2f ms; over %d: %.2f ms; ratio %.2f (linear: 2)\n",
              count / 2, half * 1e3, count, full * 1e3, full / half);

#ifdef MQ_BENCH_WITH_MIME
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
    Shell("find '" + src.string() + "' -name '*.eml' -print0 | xargs -0 munpack -q -C '" +
          (root / "munpack").string() + "' > /dev/null 2>&1 || true");
  });
  std::printf("ExtractAttachment x %d: %.3f s; munpack: %.3f s; ratio %.2f (goal <= 0.5)\n", count,
              extract, munpack, extract / munpack);
  // The share of the MIME layer's parse alone.
  const double parse = Seconds([&] {
    for (int i = 0; i < count; ++i) {
      com::ComPtr<IMimeMessage> message;
      folder->OpenMessage(MESSAGEID(i), IID_IMimeMessage, message.ReleaseAndGetVoidAddress());
    }
  });
  std::printf("  of which opening (parsing) every message: %.3f s\n", parse);
#endif
  fs::remove_all(root);
  return 0;
}
