// SPDX-License-Identifier: LGPL-2.1-or-later
// The store stand-in and the desktop services for the message operation tests.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "control/messages_ops/message_ops.h"
#include "control/testing/fake_store.h"
#include "platform/testing/scratch.h"

namespace msgops::testing {

using mq::testing::FakeFolder;
using mq::testing::FakeStoreState;
using mq::testing::OpenFakeFolder;
using mqtest::ReadFile;
using mqtest::TempDir;
using mqtest::WriteFile;

class FakeShell final : public ShellServices {
 public:
  std::optional<std::string> temp;
  std::optional<std::string> home;
  std::vector<std::string> opened;
  std::optional<std::string> TempDirectory() override { return temp; }
  std::optional<std::string> HomeDirectory() override { return home; }
  void OpenDocument(const std::string& path) override { opened.push_back(path); }
};

struct Record {
  std::string subject, displayFrom, displayTo, receiveTime, sentTime;
  LONG size = 0;
  MESSAGEID id = 0;
};

inline auto Snapshot(const std::vector<Record>& records) {
  return SnapshotOf(records, [](const Record& r) { return ViewOf(r); });
}

}  // namespace msgops::testing
