// SPDX-License-Identifier: LGPL-2.1-or-later
// Times exporting every attachment of a large folder through the MIME layer,
// against munpack (when installed) and cp over the same files in the same
// run, and shows that exporting one very large message keeps memory flat.
//
//   mime_extract_bench WORKDIR [TOTAL_MB] [MESSAGES]     (default 1000 MB, 2000 messages)
//
// Everything is generated into WORKDIR (created, must not exist) and removed
// at the end.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/com/memory.h"
#include "platform/mime/mime.h"

// After the platform headers: GLib defines TRUE and FALSE as macros.
#include <glib.h>

extern char** environ;
namespace fs = std::filesystem;

namespace {

// CPU seconds (user + system) of this process, or of the children waited for.
double CpuSeconds(int who) {
  rusage u{};
  getrusage(who, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Appends `size` pseudo-random bytes, base64-encoded in 76-column lines.
void AppendBase64(std::string& out, std::size_t size, std::uint64_t seed) {
  std::string raw(size, '\0');
  for (std::size_t i = 0; i + 8 <= size; i += 8) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    std::memcpy(&raw[i], &seed, 8);
  }
  gchar* b64 = g_base64_encode(reinterpret_cast<const guchar*>(raw.data()), raw.size());
  std::size_t len = std::strlen(b64);
  out.reserve(out.size() + len + len / 76 * 2 + 2);
  for (std::size_t i = 0; i < len; i += 76) {
    out.append(b64 + i, std::min<std::size_t>(76, len - i));
    out += '\n';
  }
  g_free(b64);
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(1);
  }
}

// One message with `parts` attachments of `each` bytes; the names mix plain
// names with spaces, RFC 2231 and RFC 2047 forms. Unique per message.
std::string Message(int n, int parts, std::size_t each) {
  std::string m =
      "Return-Path: <sender@example.net>\nFrom: Sender <sender@example.net>\n"
      "To: reader@example.org\nSubject: files " +
      std::to_string(n) +
      "\nDate: Mon, 2 Mar 2026 09:15:00 +0000\nMIME-Version: 1.0\n"
      "Content-Type: multipart/mixed; boundary=\"=_b" +
      std::to_string(n) + "\"\n\n--=_b" + std::to_string(n) +
      "\nContent-Type: text/plain; charset=utf-8\n\nFiles attached.\n";
  for (int p = 0; p < parts; ++p) {
    std::string id = std::to_string(n) + "-" + std::to_string(p);
    m += "--=_b" + std::to_string(n) + "\n";
    switch (p % 3) {
      case 0:
        m += "Content-Type: application/pdf; name=\"report " + id +
             ".pdf\"\nContent-Disposition: attachment; filename=\"report " + id + ".pdf\"\n";
        break;
      case 1:
        m += "Content-Type: application/octet-stream\nContent-Disposition: attachment;\n"
             " filename*0*=utf-8''%C3%A9t%C3%A9%20;\n filename*1=\"" +
             id + ".bin\"\n";
        break;
      default:
        m += "Content-Type: image/jpeg; name=\"=?UTF-8?Q?Fr=C3=BChling_" + id + ".jpg?=\"\n";
        break;
    }
    m += "Content-Transfer-Encoding: base64\n\n";
    AppendBase64(m, each, static_cast<std::uint64_t>(n) * 1000 + p + 1);
  }
  return m + "--=_b" + std::to_string(n) + "--\n";
}

struct Totals {
  long files = 0;
  double bytes = 0;
};

// The consumer: every attachment of every message written into `out`.
Totals ExtractAll(const std::vector<std::string>& messages, const fs::path& out) {
  Totals t;
  for (const std::string& path : messages) {
    IMimeMessage* message = nullptr;
    if (FAILED(mime::OpenMessageFile(path.c_str(), &message))) continue;
    ULONG count = 0;
    HBODY* parts = nullptr;
    if (message->GetAttachments(&count, &parts) == S_OK) {
      for (ULONG i = 0; i < count; ++i) {
        if (message->IsBodyType(parts[i], IBT_ATTACHMENT) != S_OK) continue;
        IMimeBody* body = nullptr;
        if (FAILED(message->BindToObject(parts[i], IID_IMimeBody, reinterpret_cast<void**>(&body))))
          continue;
        LPSTR name = nullptr;
        if (SUCCEEDED(body->GetDisplayName(&name))) {
          std::string target = (out / name).string();
          if (body->SaveToFile(IET_BINARY, target.c_str()) == S_OK) {
            ++t.files;
            t.bytes += static_cast<double>(fs::file_size(target));
          }
          CoTaskMemFree(name);
        }
        body->Release();
      }
    }
    CoTaskMemFree(parts);
    message->Release();
  }
  return t;
}

// The peak resident set of this process (its own, since exec) on stdout.
void PrintPeakRss() {
  FILE* f = std::fopen("/proc/self/status", "r");
  char line[256];
  while (f && std::fgets(line, sizeof line, f)) {
    if (std::strncmp(line, "VmHWM:", 6) == 0) std::fputs(line + 6, stdout);
  }
  if (f) std::fclose(f);
}

// Runs a program without a shell; returns its exit status, or -1. `peakKb`
// receives that one child's peak resident set.
// Runs a program without a shell, its output going to `output`; returns its
// exit status, or -1.
int Spawn(std::vector<std::string> args, const char* output = "/dev/null") {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output, O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid;
  int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveProgram(const char* name) {
  return Spawn({"sh", "-c", std::string("command -v ") + name + " >/dev/null"}) == 0;
}

// Runs this program in one of its child modes and reads the peak resident
// set it reports (a fresh process: exec starts a new address space).
long PeakRssOfChildKb(std::vector<std::string> args, const fs::path& report) {
  if (Spawn(std::move(args), report.c_str()) != 0) return -1;
  FILE* f = std::fopen(report.c_str(), "r");
  long kb = -1;
  if (f && std::fscanf(f, "%ld", &kb) != 1) kb = -1;
  if (f) std::fclose(f);
  return kb;
}

}  // namespace

int main(int argc, char** argv) {
  // Child modes for the memory measurement (a fresh process each).
  if (argc == 4 && std::strcmp(argv[1], "--export") == 0) {
    Totals t = ExtractAll({argv[2]}, argv[3]);
    PrintPeakRss();
    return t.files > 0 ? 0 : 1;
  }
  if (argc == 4 && std::strcmp(argv[1], "--export-folder") == 0) {
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(argv[2])) files.push_back(e.path().string());
    Totals t = ExtractAll(files, argv[3]);
    std::printf("%ld files\n", t.files);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--idle") == 0) {
    IMimeMessage* m = nullptr;
    mime::OpenMessageFile("/proc/self/exe", &m);  // loads and initialises everything
    if (m) m->Release();
    PrintPeakRss();
    return 0;
  }
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s WORKDIR [TOTAL_MB] [MESSAGES]\n", argv[0]);
    return 2;
  }
  const fs::path work = argv[1];
  const double totalMb = argc > 2 ? std::atof(argv[2]) : 1000;
  const int count = argc > 3 ? std::atoi(argv[3]) : 2000;
  if (fs::exists(work)) {
    std::fprintf(stderr, "%s exists; give a new directory\n", work.c_str());
    return 2;
  }
  const fs::path folder = work / "folder", out = work / "out";
  fs::create_directories(folder);
  fs::create_directories(out);

  // ---- the folder: `count` messages, 1 to 4 attachments each.
  double t0 = Now();
  std::vector<std::string> files;
  double messageBytes = 0;
  const double perMessage = totalMb * 1e6 / count / 1.37;  // decoded bytes per message
  for (int n = 0; n < count; ++n) {
    int parts = 1 + n % 4;
    std::string text = Message(n, parts, static_cast<std::size_t>(perMessage / parts) & ~7u);
    files.push_back((folder / ("msg " + std::to_string(n) + ".eml")).string());
    WriteFile(files.back(), text);
    messageBytes += static_cast<double>(text.size());
  }
  std::printf("generated %d messages, %.0f MB, in %.1f s\n", count, messageBytes / 1e6, Now() - t0);

  // Warm the page cache the same way for every contender.
  Spawn({"sh", "-c", "cat \"$0\"/* > /dev/null", folder.string()});

  // ---- this layer, in process.
  t0 = Now();
  double c0 = CpuSeconds(RUSAGE_SELF);
  Totals mq = ExtractAll(files, out);
  const double mqTime = Now() - t0, mqCpu = CpuSeconds(RUSAGE_SELF) - c0;
  std::printf("mime layer : %6.2f s (cpu %5.2f s)  %ld files, %.0f MB decoded, %.0f MB/s of mail\n",
              mqTime, mqCpu, mq.files, mq.bytes / 1e6, messageBytes / 1e6 / mqTime);
  fs::remove_all(out);
  fs::create_directories(out);

  // ---- munpack over all files at once.
  double munpackTime = 0, munpackCpu = 0;
  if (HaveProgram("munpack")) {
    std::vector<std::string> args = {"munpack", "-q", "-C", out.string()};
    args.insert(args.end(), files.begin(), files.end());
    t0 = Now();
    c0 = CpuSeconds(RUSAGE_CHILDREN);
    int rc = Spawn(args);
    munpackTime = Now() - t0;
    munpackCpu = CpuSeconds(RUSAGE_CHILDREN) - c0;
    long produced = std::distance(fs::directory_iterator(out), fs::directory_iterator());
    std::printf("munpack    : %6.2f s (cpu %5.2f s)  %ld files (exit %d)\n", munpackTime,
                munpackCpu, produced, rc);
    fs::remove_all(out);
    fs::create_directories(out);
  } else {
    std::printf("munpack    : not installed (apt-get install mpack), skipped\n");
  }

  // ---- cp of the message files.
  std::vector<std::string> cpArgs = {"cp"};
  cpArgs.insert(cpArgs.end(), files.begin(), files.end());
  cpArgs.push_back(out.string());
  t0 = Now();
  c0 = CpuSeconds(RUSAGE_CHILDREN);
  Spawn(cpArgs);
  const double cpTime = Now() - t0, cpCpu = CpuSeconds(RUSAGE_CHILDREN) - c0;
  std::printf("cp         : %6.2f s (cpu %5.2f s)\n", cpTime, cpCpu);
  fs::remove_all(out);
  fs::create_directories(out);

  if (munpackTime > 0)
    std::printf("ratio mime/munpack = %.2f wall, %.2f cpu (goal <= 0.5)\n", mqTime / munpackTime,
                mqCpu / munpackCpu);
  std::printf("ratio mime/cp      = %.2f wall, %.2f cpu\n", mqTime / cpTime, mqCpu / cpCpu);
  fs::remove_all(folder);

  // ---- memory: one 135 MB message with 100 attachments of 1 MB.
  const fs::path big = work / "big.eml";
  {
    std::string text =
        "From: a@example.net\nSubject: big\nMIME-Version: 1.0\n"
        "Content-Type: multipart/mixed; boundary=big\n\n--big\n"
        "Content-Type: text/plain\n\nbig one\n";
    for (int p = 0; p < 100; ++p) {
      text += "--big\nContent-Type: application/octet-stream; name=\"part " + std::to_string(p) +
              ".bin\"\nContent-Transfer-Encoding: base64\n\n";
      AppendBase64(text, 1 << 20, p + 7);
    }
    text += "--big--\n";
    WriteFile(big, text);
  }
  const double bigMb = static_cast<double>(fs::file_size(big)) / 1e6;
  const std::string self = fs::canonical("/proc/self/exe").string();
  const fs::path report = work / "rss.txt";
  long idleKb = PeakRssOfChildKb({self, "--idle"}, report);
  t0 = Now();
  long exportKb = PeakRssOfChildKb({self, "--export", big.string(), out.string()}, report);
  const double bigTime = Now() - t0;
  long written = std::distance(fs::directory_iterator(out), fs::directory_iterator());
  std::printf(
      "big message: %.0f MB, %ld files in %.2f s; peak RSS %.1f MB "
      "(idle process %.1f MB), %.1f%% of the message\n",
      bigMb, written, bigTime, exportKb / 1024.0, idleKb / 1024.0,
      100.0 * exportKb / 1024.0 / bigMb);
  fs::remove_all(work);
  return 0;
}
