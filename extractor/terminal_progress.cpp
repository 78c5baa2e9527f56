// SPDX-License-Identifier: LGPL-2.1-or-later
#include "extractor/terminal_progress.h"

#include <signal.h>

#include <cmath>

#include "extractor/standard_output.h"

namespace mailsift {
namespace {

volatile sig_atomic_t g_stop = 0;

void OnStopSignal(int) {
  g_stop = 1;
}

// A line rewritten more often than this only flickers.
constexpr auto kRedraw = std::chrono::milliseconds(100);

std::string Duration(double seconds) {
  const long total = std::lround(seconds);
  char text[32];
  if (total >= 3600)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  else
    std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  return text;
}

}  // namespace

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // Interrupted system calls resume: the message being written is finished.
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool StopRequested() {
  return g_stop != 0;
}

std::string ProgressLine(long done, long total, const std::string& noun, double seconds) {
  std::string line = std::to_string(done) + " of " + std::to_string(total) + " " + noun;
  if (done > 0 && seconds > 0) {
    const double rate = done / seconds;
    char text[32];
    std::snprintf(text, sizeof text, rate < 10 ? ", %.1f/s" : ", %.0f/s", rate);
    line += text;
    line += ", " + Duration((total - done) / rate) + " left";
  }
  return line;
}

TerminalProgress::TerminalProgress(std::FILE* status, std::FILE* listing, std::string noun)
    : status_(status), listing_(listing), noun_(std::move(noun)) {}

TerminalProgress::~TerminalProgress() {
  Clear();
}

bool TerminalProgress::Continue(long done, long total) {
  if (StopRequested() || outputError_) return false;
  const Clock::time_point now = Clock::now();
  if (status_ && now - shown_ >= kRedraw) {
    shown_ = now;
    Show(ProgressLine(done, total, noun_, std::chrono::duration<double>(now - started_).count()));
  }
  return true;
}

void TerminalProgress::Wrote(const std::string& path) {
  if (!listing_) return;
  Clear();
  std::fprintf(listing_, "%s\n", path.c_str());
  // Each line goes out at once: a reader that went away, or a full disk,
  // stops the export now, not thousands of files later.
  if (int err = FlushChecked(listing_); err && !outputError_) outputError_ = err;
}

void TerminalProgress::Show(const std::string& line) {
  // Spaces cover what is left of a longer line before.
  const std::size_t pad = shownWidth_ > line.size() ? shownWidth_ - line.size() : 0;
  std::fprintf(status_, "\r%s%*s", line.c_str(), static_cast<int>(pad), "");
  std::fflush(status_);
  shownWidth_ = line.size();
}

void TerminalProgress::Clear() {
  if (!status_ || shownWidth_ == 0) return;
  std::fprintf(status_, "\r%*s\r", static_cast<int>(shownWidth_), "");
  std::fflush(status_);
  shownWidth_ = 0;
}

}  // namespace mailsift
