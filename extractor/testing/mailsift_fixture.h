// SPDX-License-Identifier: LGPL-2.1-or-later
// What the dialog's tests and the command line's tests share: a Maildir store
// and an address book in a temporary directory of the test's own, with the
// modules registered, mails that carry one attachment, and the main dialog
// over them. The system dialogs are answered through the prompts; a wrapper
// between the program and the control fails one call on request.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "extractor/mailsift_dlg.h"
#include "extractor/progress_dialog.h"
#include "platform/store/testing/maildir_fixture.h"
#include "platform/testing/registered_modules_test.h"
#include "platform/testing/scratch.h"
#include "platform/ui/dialogs.h"

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

// The names in a directory.
inline std::set<std::string> Entries(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.insert(e.path().filename().string());
  return names;
}

// Every file below `dir` by its relative path with its bytes, a directory as
// "<dir>", the record of earlier exports left out.
inline std::map<std::string, std::string> Tree(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
    const std::string rel = std::filesystem::relative(e.path(), dir).string();
    if (rel != ".mailsift-exported")
      files[rel] = e.is_regular_file() ? mqtest::ReadFile(e.path().string()) : "<dir>";
  }
  return files;
}

// Makes the wrapper fail the `at`-th call of member `id`.
struct FailCall {
  DISPID id = 0;
  int at = -1, seen = 0;
};

// Stands between the program and an object of the control, and wraps the
// collections it hands out the same way.
class Interposer : public com::Object<IDispatch> {
 public:
  Interposer(com::ComPtr<IDispatch> inner, FailCall* fail)
      : inner_(std::move(inner)), fail_(fail) {}
  HRESULT GetTypeInfoCount(UINT* n) override { return inner_->GetTypeInfoCount(n); }
  HRESULT GetTypeInfo(UINT i, LCID l, ITypeInfo** t) override {
    return inner_->GetTypeInfo(i, l, t);
  }
  HRESULT GetIDsOfNames(REFIID r, LPOLESTR* n, UINT c, LCID l, DISPID* d) override {
    return inner_->GetIDsOfNames(r, n, c, l, d);
  }
  HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* info, UINT* argErr) override {
    if (id == fail_->id && ++fail_->seen == fail_->at) return E_FAIL;
    HRESULT hr = inner_->Invoke(id, riid, lcid, flags, params, result, info, argErr);
    if (SUCCEEDED(hr) && result && result->vt == VT_DISPATCH && result->pdispVal) {
      auto wrapped =
          com::MakeObject<Interposer>(com::ComPtr<IDispatch>::Attach(result->pdispVal), fail_);
      result->pdispVal = wrapped.Detach();
    }
    return hr;
  }

 private:
  com::ComPtr<IDispatch> inner_;
  FailCall* fail_;
};

// Answers "cancel" before item `at`.
class CancelAt : public Progress {
 public:
  explicit CancelAt(long at) : at_(at) {}
  bool Continue(long done, long) override { return done < at_; }

 private:
  long at_;
};

class MailsiftTest : public mqtest::RegisteredModulesTest {
 protected:
  void SetUp() override {
    RequireRegisteredModules();
    fixture_.UseAsMailDir();
    std::filesystem::create_directory(out_ + "/book");
    setenv("MAILQUARRY_ADDRESSBOOK", (out_ + "/book").c_str(), 1);
  }
  void TearDown() override { dialog_.reset(); }

  // Adds `mails` to `folder`, each delivered a minute after the one before.
  void Add(const store::testing::FolderPath& folder, const std::vector<std::string>& mails) {
    for (const std::string& mail : mails)
      fixture_.AddMessage(folder, mail, {"S", 1167707045 + 60 * added_++, false});
  }
  // A fresh directory for one export, inside the test's own.
  std::string NewDir(const std::string& name) {
    std::string dir = out_ + "/" + name;
    std::filesystem::create_directory(dir);
    return dir;
  }

  // The dialog over the store as it is now, every call through the wrapper.
  CMailsiftDlg& Open() {
    DialogServices services;
    services.prompts = &prompts_;
    services.makeProgress = [this](QWidget*, const QString&) -> std::unique_ptr<Progress> {
      if (cancelAt_ >= 0) return std::make_unique<CancelAt>(cancelAt_);
      return std::make_unique<NoProgress>();
    };
    services.open = [this](const std::string& location) {
      opened_.push_back(location);
      return openResult_;
    };
    services.showAbout = [this](QWidget*) { ++aboutShown_; };
    services.runOptions = [this](COptionsDlg& options) {
      return runOptions_ ? runOptions_(options) : false;
    };
    dialog_ = std::make_unique<CMailsiftDlg>(std::move(services));
    QString error;
    EXPECT_TRUE(dialog_->OnInitDialog(&error)) << error.toStdString();
    dialog_->Control().Interpose([this](com::ComPtr<IDispatch> control) {
      return com::ComPtr<IDispatch>(com::MakeObject<Interposer>(control, &fail_));
    });
    return *dialog_;
  }

  QComboBox* Folders() { return static_cast<QComboBox*>(dialog_->Item(kIdFolder)); }
  QRadioButton* Radio(int id) { return static_cast<QRadioButton*>(dialog_->Item(id)); }
  void Choose(int folder, int rangeId = kIdAllMessages) {
    Folders()->setCurrentIndex(folder);
    Radio(rangeId)->setChecked(true);
  }
  // By the folder's path: "Work/Projects".
  void Choose(const std::string& folder, int rangeId = kIdAllMessages) {
    Choose(Folders()->findData(QString::fromStdString(folder)), rangeId);
  }
  // Runs `command` with `place` as the user's choice of directory, or of file
  // when `intoFile`.
  void Run(void (CMailsiftDlg::*command)(), const std::string& place, bool intoFile = false) {
    (intoFile ? prompts_.saveNames : prompts_.directories).push_back(QString::fromStdString(place));
    (dialog_.get()->*command)();
  }
  std::string LastMessage() {
    return prompts_.messages.empty() ? "" : prompts_.messages.back().text.toStdString();
  }

  store::testing::MaildirFixture fixture_;
  int added_ = 0;
  mqtest::TempDir scratch_;
  const std::string out_ = scratch_.path();  // the test's own directory
  ui::ScriptedUserPrompts prompts_;
  FailCall fail_;
  std::unique_ptr<CMailsiftDlg> dialog_;
  std::vector<std::string> opened_;
  HRESULT openResult_ = S_OK;
  int aboutShown_ = 0;
  std::function<bool(COptionsDlg&)> runOptions_;  // the options dialog's answer
  long cancelAt_ = -1;
};

}  // namespace mailsift::testing
