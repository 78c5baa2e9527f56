// SPDX-License-Identifier: LGPL-2.1-or-later
// The contract between a control and the window that hosts it: the host
// drives the control through IPlatformControl, the control calls back through
// IPlatformControlSite. Both live in one process and one thread, so they pass
// plain C++ values (rectangles, painters, property bags) and the host's
// QWidget directly.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/com/dispatch.h"

class QWidget;

namespace ui {

class Painter;

// A rectangle in device pixels, edges exclusive on the right and bottom.
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  static constexpr Rect FromSize(int x, int y, int width, int height) {
    return {x, y, x + width, y + height};
  }
  constexpr int Width() const { return right - left; }
  constexpr int Height() const { return bottom - top; }
  constexpr bool IsEmpty() const { return right <= left || bottom <= top; }
  friend constexpr bool operator==(const Rect&, const Rect&) = default;
};

// A control's persisted properties: names to values in text form. The version
// stamp travels under kVersionProperty.
using PropertyBag = std::map<std::string, std::string>;
inline constexpr const char* kVersionProperty = "_Version";

}  // namespace ui

// Ambient properties a site may answer (the standard DISPIDs).
constexpr DISPID DISPID_AMBIENT_DISPLAYNAME = -702;
constexpr DISPID DISPID_AMBIENT_USERMODE = -709;

// Miscellaneous status bits a control class reports to its container.
constexpr DWORD OLEMISC_RECOMPOSEONRESIZE = 0x1;
constexpr DWORD OLEMISC_CANTLINKINSIDE = 0x10;
constexpr DWORD OLEMISC_INSIDEOUT = 0x80;
constexpr DWORD OLEMISC_ACTIVATEWHENVISIBLE = 0x100;
constexpr DWORD OLEMISC_SETCLIENTSITEFIRST = 0x20000;

// What a control calls on its container.
struct IPlatformControlSite : IUnknown {
  static constexpr IID iid = com::Guid("{ECA7A03E-C353-4BFC-8C32-E95AF2B85CFF}");
  using Base = IUnknown;
  // DISP_E_MEMBERNOTFOUND for an ambient property the container does not know.
  virtual HRESULT GetAmbientProperty(DISPID dispid, VARIANT* value) = 0;
  // A bound property of the control changed (design-time property browsers refresh).
  virtual HRESULT OnPropertyChanged(DISPID dispid) = 0;
  // The control's persisted state became modified.
  virtual HRESULT OnControlModified() = 0;
  // The control asks to be moved to `rect` (in its parent's coordinates); the
  // container answers by calling IPlatformControl::SetObjectRect, or refuses.
  virtual HRESULT OnPosRectChange(const ui::Rect& rect) = 0;
};

// What a container calls on a control.
struct IPlatformControl : IUnknown {
  static constexpr IID iid = com::Guid("{89F99C40-5360-410A-A7FD-7B06A8A19874}");
  using Base = IUnknown;
  // Null detaches the control from its site.
  virtual HRESULT SetClientSite(IPlatformControlSite* site) = 0;
  virtual HRESULT GetClientSite(IPlatformControlSite** site) = 0;
  // Creates the control's window at `rect` in `parent`; a null parent gives a
  // headless window (an object with a rectangle, painted only on request).
  // E_UNEXPECTED when a window exists already; E_FAIL when creation fails.
  virtual HRESULT Activate(QWidget* parent, const ui::Rect& rect) = 0;
  // Destroys the window; S_FALSE when there was none.
  virtual HRESULT Deactivate() = 0;
  // The window's rectangle in its parent; E_FAIL without a window.
  virtual HRESULT GetObjectRect(ui::Rect* rect) = 0;
  virtual HRESULT SetObjectRect(const ui::Rect& rect) = 0;
  // The control's QWidget, or null while headless or without a window.
  virtual HRESULT GetWindow(QWidget** widget) = 0;
  // Draws the control into `painter` at `bounds`.
  virtual HRESULT Draw(ui::Painter* painter, const ui::Rect& bounds) = 0;
  // Shows the control's property pages modally (nothing without a GUI).
  virtual HRESULT DoPropertiesVerb(QWidget* parent) = 0;
  virtual HRESULT GetPropertyPages(std::vector<CLSID>* pages) = 0;
  virtual HRESULT GetMiscStatus(DWORD* status) = 0;
  // Property persistence. Save clears the modified flag when `clearDirty`.
  virtual HRESULT InitNew() = 0;
  virtual HRESULT Load(const ui::PropertyBag& bag) = 0;
  virtual HRESULT Save(ui::PropertyBag* bag, bool clearDirty) = 0;
  // S_OK when modified since the last load or clearing save, else S_FALSE.
  virtual HRESULT IsDirty() = 0;
};
