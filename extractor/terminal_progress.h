// SPDX-License-Identifier: LGPL-2.1-or-later
// Progress of a command-line export: "k of N" with the rate and the time
// left, rewritten in place on a terminal, nothing when the stream is not one;
// each file written listed when asked (a failed write of the list stops the
// export); and Ctrl-C or SIGTERM taken as the
// dialog's Cancel, so the export stops after the current message.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "extractor/export_commands.h"

namespace mailsift {

// From now on SIGINT and SIGTERM only ask the running export to stop.
void CatchStopSignals();
// A stop signal has come.
bool StopRequested();

// "1234 of 2000 messages, 85/s, 0:09 left"; the rate and time left once
// something is done.
std::string ProgressLine(long done, long total, const std::string& noun, double seconds);

class TerminalProgress : public Progress {
 public:
  // `status` gets the progress line (null: none); `listing` the path of each
  // file written (null: none).
  TerminalProgress(std::FILE* status, std::FILE* listing, std::string noun);
  ~TerminalProgress() override;
  TerminalProgress(const TerminalProgress&) = delete;
  TerminalProgress& operator=(const TerminalProgress&) = delete;

  bool Continue(long done, long total) override;
  void Wrote(const std::string& path) override;
  // Takes the progress line off the terminal.
  void Clear();
  // The errno of a failed write of the listing (which stops the export), or 0.
  int OutputError() const { return outputError_; }

 private:
  using Clock = std::chrono::steady_clock;
  void Show(const std::string& line);

  std::FILE* status_;
  std::FILE* listing_;
  std::string noun_;
  Clock::time_point started_ = Clock::now();
  Clock::time_point shown_{};
  std::size_t shownWidth_ = 0;
  int outputError_ = 0;
};

}  // namespace mailsift
