// SPDX-License-Identifier: LGPL-2.1-or-later
// The container side: holds one control, is its site, creates and destroys
// its window, and hands out its IDispatch. With a parent QWidget the control
// gets a real child widget; without one it runs headless and paints only when
// asked, into a recording painter.
#pragma once

#include <QImage>
#include <vector>

#include "platform/ui/control_interfaces.h"
#include "platform/ui/painter.h"

namespace ui {

class ControlHost {
 public:
  // `userMode` is the ambient user mode the site reports: true = run mode.
  explicit ControlHost(bool userMode = true);
  ControlHost(const ControlHost&) = delete;
  ControlHost& operator=(const ControlHost&) = delete;
  // Destroys the window and lets go of the control.
  ~ControlHost();

  // Creates the control by class id through activation, then as Attach.
  HRESULT Create(REFCLSID clsid);
  // Takes a control the caller made: it must answer IPlatformControl and
  // IDispatch (E_NOINTERFACE otherwise). The site is set first, then the
  // control is initialised to its defaults. E_UNEXPECTED when one is held.
  HRESULT Attach(IUnknown* control);
  // Creates the control's window in `parent` (null: headless) at `rect`.
  HRESULT Activate(QWidget* parent, const Rect& rect);
  // Destroys the window (the control's destruction hook runs); S_FALSE without one.
  HRESULT Deactivate();
  // Deactivate, detach the site, release the control.
  void Close();

  bool HasControl() const { return static_cast<bool>(control_); }
  com::ComPtr<IDispatch> Dispatch() const { return dispatch_; }
  com::ComPtr<IPlatformControl> Control() const { return control_; }
  // The control's widget; null when headless or without a window.
  QWidget* Window() const;
  // The window's rectangle in its parent; empty without a window.
  Rect WindowRect() const;

  bool UserMode() const { return userMode_; }
  void SetUserMode(bool userMode) { userMode_ = userMode; }

  // Has the control draw itself into a recording painter at its own bounds
  // (0, 0, width, height) and returns the calls. Works in both kinds of host.
  RecordingPainter Paint();
  // The control's widget as an image (runs a real paint); null when headless.
  QImage Render();

  // What the control told its site.
  const std::vector<DISPID>& ChangedProperties() const { return changed_; }
  int ModifiedNotifications() const { return modifiedCount_; }
  // Whether the site grants the control's resize requests (default true).
  void SetAllowResize(bool allow) { allowResize_ = allow; }

 private:
  class Site;
  friend class Site;

  bool userMode_;
  bool allowResize_ = true;
  int modifiedCount_ = 0;
  std::vector<DISPID> changed_;
  com::ComPtr<Site> site_;
  com::ComPtr<IPlatformControl> control_;
  com::ComPtr<IDispatch> dispatch_;
};

}  // namespace ui
