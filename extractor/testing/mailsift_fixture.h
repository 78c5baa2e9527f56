// What the dialog's tests and the command line's tests share: a Maildir store
// and an address book in a temporary directory of the test's own, with the
// modules registered, and mails that carry one attachment.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/store/testing/maildir_fixture.h"
#include "tests/support/registered_modules_test.h"

namespace mailsift::testing {

// A mail from `from` with a short text and the attachment `name` holding `content`.
inline std::string MailWithAttachment(const std::string& subject, const std::string& name,
                                      const std::string& content,
                                      const std::string& from = "a@example.org") {
  return "Return-Path: <" + from + ">\r\nFrom: " + from + "\r\nSubject: " + subject +
         "\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
         "--b\r\nContent-Type: text/plain\r\n\r\nSee.\r\n--b\r\nContent-Type: "
         "application/octet-stream\r\nContent-Disposition: attachment; filename=\"" +
         name + "\"\r\n\r\n" + content + "\r\n--b--\r\n";
}

class MailsiftFixture : public mqtest::RegisteredModulesTest {
 protected:
  void SetUp() override {
    RequireRegisteredModules();
    fixture_.UseAsMailDir();
    char dir[] = "/tmp/mailsift-test-XXXXXX";
    out_ = mkdtemp(dir);
    std::filesystem::create_directory(out_ + "/book");
    setenv("MAILQUARRY_ADDRESSBOOK", (out_ + "/book").c_str(), 1);
  }
  void TearDown() override {
    std::error_code ec;
    if (!out_.empty()) std::filesystem::remove_all(out_, ec);
  }

  // Adds `mails` to `folder`, each delivered a minute after the one before.
  void Add(const store::testing::FolderPath& folder, const std::vector<std::string>& mails) {
    for (const std::string& mail : mails)
      fixture_.AddMessage(folder, mail, {"S", 1167707045 + 60 * added_++, false});
  }

  store::testing::MaildirFixture fixture_;
  int added_ = 0;
  std::string out_;
};

}  // namespace mailsift::testing
