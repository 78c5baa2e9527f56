// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/ui/painter.h"

#include <QPainter>
#include <cstdio>

namespace ui {
namespace {

QColor ToQColor(Color c) {
  return QColor(c.r, c.g, c.b);
}
QRect ToQRect(const Rect& r) {
  return QRect(r.left, r.top, r.Width(), r.Height());
}

std::string ColorText(Color c) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%02x%02x%02x", c.r, c.g, c.b);
  return buf;
}

std::string RectText(const Rect& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
         "," + std::to_string(r.bottom);
}

}  // namespace

QtPainter::QtPainter(QPainter& painter) : painter_(painter) {
  painter_.setPen(Qt::black);
  painter_.setBackground(Qt::white);
  painter_.setBackgroundMode(Qt::OpaqueMode);
}

void QtPainter::FillSolidRect(const Rect& rect, Color color) {
  painter_.fillRect(ToQRect(rect), ToQColor(color));
}

void QtPainter::SetBackgroundMode(BackgroundMode mode) {
  painter_.setBackgroundMode(mode == BackgroundMode::kOpaque ? Qt::OpaqueMode
                                                             : Qt::TransparentMode);
}

void QtPainter::SetBackgroundColor(Color color) {
  painter_.setBackground(ToQColor(color));
}

void QtPainter::SetTextColor(Color color) {
  painter_.setPen(ToQColor(color));
}

void QtPainter::DrawCenteredText(std::string_view text, const Rect& rect) {
  painter_.drawText(ToQRect(rect), Qt::AlignCenter | Qt::TextSingleLine,
                    QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void RecordingPainter::FillSolidRect(const Rect& rect, Color color) {
  calls_.push_back({Call::kFillSolidRect, rect, color, BackgroundMode::kOpaque, {}});
}

void RecordingPainter::SetBackgroundMode(BackgroundMode mode) {
  calls_.push_back({Call::kBackgroundMode, {}, {}, mode, {}});
}

void RecordingPainter::SetBackgroundColor(Color color) {
  calls_.push_back({Call::kBackgroundColor, {}, color, BackgroundMode::kOpaque, {}});
}

void RecordingPainter::SetTextColor(Color color) {
  calls_.push_back({Call::kTextColor, {}, color, BackgroundMode::kOpaque, {}});
}

void RecordingPainter::DrawCenteredText(std::string_view text, const Rect& rect) {
  calls_.push_back({Call::kText, rect, {}, BackgroundMode::kOpaque, std::string(text)});
}

std::vector<std::string> RecordingPainter::Describe() const {
  std::vector<std::string> lines;
  for (const Call& call : calls_) {
    switch (call.kind) {
      case Call::kFillSolidRect:
        lines.push_back("fill " + RectText(call.rect) + " " + ColorText(call.color));
        break;
      case Call::kBackgroundMode:
        lines.push_back(call.mode == BackgroundMode::kOpaque ? "mode opaque" : "mode transparent");
        break;
      case Call::kBackgroundColor:
        lines.push_back("bkcolor " + ColorText(call.color));
        break;
      case Call::kTextColor:
        lines.push_back("textcolor " + ColorText(call.color));
        break;
      case Call::kText:
        lines.push_back("text " + RectText(call.rect) + " \"" + call.text + "\"");
        break;
    }
  }
  return lines;
}

}  // namespace ui
