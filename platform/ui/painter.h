// SPDX-License-Identifier: LGPL-2.1-or-later
// The drawing surface a control paints on: a few GDI-like primitives, with one
// implementation over QPainter and one that only records the calls (for
// running without a GUI and for tests).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/control_interfaces.h"

class QPainter;

namespace ui {

struct Color {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
  friend constexpr bool operator==(const Color&, const Color&) = default;
};
constexpr Color Rgb(int r, int g, int b) {
  return {static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g), static_cast<std::uint8_t>(b)};
}

// Whether text is drawn over a filled background box or directly.
enum class BackgroundMode { kTransparent, kOpaque };

class Painter {
 public:
  virtual ~Painter() = default;
  // Fills `rect` with a solid brush of `color` (the brush lives for this call only).
  virtual void FillSolidRect(const Rect& rect, Color color) = 0;
  virtual void SetBackgroundMode(BackgroundMode mode) = 0;
  // The box behind text in opaque mode.
  virtual void SetBackgroundColor(Color color) = 0;
  virtual void SetTextColor(Color color) = 0;
  // One line of text (UTF-8), centred horizontally and vertically in `rect`.
  virtual void DrawCenteredText(std::string_view text, const Rect& rect) = 0;
};

// Paints through a QPainter the caller owns; starts with black text on white,
// opaque mode, as a fresh device context does.
class QtPainter : public Painter {
 public:
  explicit QtPainter(QPainter& painter);
  void FillSolidRect(const Rect& rect, Color color) override;
  void SetBackgroundMode(BackgroundMode mode) override;
  void SetBackgroundColor(Color color) override;
  void SetTextColor(Color color) override;
  void DrawCenteredText(std::string_view text, const Rect& rect) override;

 private:
  QPainter& painter_;
};

// Keeps every call, in order.
class RecordingPainter : public Painter {
 public:
  struct Call {
    enum Kind { kFillSolidRect, kBackgroundMode, kBackgroundColor, kTextColor, kText };
    Kind kind;
    Rect rect{};
    Color color{};
    BackgroundMode mode = BackgroundMode::kOpaque;
    std::string text;
  };

  void FillSolidRect(const Rect& rect, Color color) override;
  void SetBackgroundMode(BackgroundMode mode) override;
  void SetBackgroundColor(Color color) override;
  void SetTextColor(Color color) override;
  void DrawCenteredText(std::string_view text, const Rect& rect) override;

  const std::vector<Call>& Calls() const { return calls_; }
  // One line per call, for readable comparisons:
  //   fill 0,0,100,50 #000000 | mode transparent | bkcolor #ffffff |
  //   textcolor #ff0000 | text 0,0,100,50 "caption"
  std::vector<std::string> Describe() const;
  void Clear() { calls_.clear(); }

 private:
  std::vector<Call> calls_;
};

}  // namespace ui
