// The attachment members over the real MIME layer.
#include <gtest/gtest.h>

#include "control/messages_ops/message_ops.h"
#include "control/messages_ops/test_fakes.h"

namespace msgops {
namespace {
using namespace msgops::testing;
namespace fs = std::filesystem;

std::string Part(const std::string& filename, const std::string& base64) {
  return "--b\r\nContent-Type: application/octet-stream\r\n"
         "Content-Transfer-Encoding: base64\r\n"
         "Content-Disposition: attachment; filename=\"" +
         filename + "\"\r\n\r\n" + base64 + "\r\n";
}

TEST(AttachmentsOverMime, WrittenInsideTheDirectoryWithoutStaleBytes) {
  TempDir tmp;
  const fs::path message = tmp.path / "m.eml";
  WriteFile(message,
            "From: a@b\r\nSubject: files\r\nMIME-Version: 1.0\r\n"
            "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
            "--b\r\nContent-Type: text/plain\r\n\r\nSee the files.\r\n" +
                Part("dup.txt", "Zmlyc3Q=") +   // "first"
                Part("dup.txt", "c2Vjb25k") +   // "second"
                Part("Scan (1).pdf", "cGRm") +  // "pdf"
                Part("Scan (2).pdf", "cGRm") + Part("../../x", "eA==") +
                Part("/etc/passwd", "eA==") + Part("a\\\\b", "eA==") +
                Part("\x01tab\there", "eA==") + "--b--\r\n");
  auto folder = com::MakeObject<FakeFolder>();
  folder->mimeFiles[1] = message.string();
  std::vector<Record> records = {{"files", "", "", "", "", 0, 1}};
  auto snapshot = Snapshot(records);
  FakeShell shell;
  MessageOps ops(snapshot, folder.Get(), shell);

  const fs::path dir = tmp.path / "out";
  fs::create_directories(dir);
  WriteFile(dir / "dup.txt", std::string(100, 'z'));
  EXPECT_EQ(ops.GetAttachmentCount(0), 8);
  EXPECT_EQ(ops.GetAttachmentName(0, 2), "Scan (1).pdf");
  EXPECT_EQ(ops.ExtractAttachment(0, dir.string() + "/"), VARIANT_TRUE);
  EXPECT_EQ(ReadFile(dir / "dup.txt"), "second");
  // Names with "(" are used whole: these two stay apart.
  EXPECT_EQ(ReadFile(dir / "Scan (1).pdf"), "pdf");
  EXPECT_EQ(ReadFile(dir / "Scan (2).pdf"), "pdf");
  // Whatever the MIME layer makes of the hostile names, it is a file in `dir`.
  size_t files = 0;
  for (auto& e : fs::recursive_directory_iterator(tmp.path)) {
    if (e.path() == message || e.path() == dir) continue;
    EXPECT_EQ(e.path().parent_path(), dir) << e.path();
    EXPECT_TRUE(e.is_regular_file()) << e.path();
    ++files;
  }
  EXPECT_GE(files, 4u);
  EXPECT_LE(files, 7u);
}

}  // namespace
}  // namespace msgops
