// SPDX-License-Identifier: LGPL-2.1-or-later
// The base of an automation control: it implements IPlatformControl (window,
// painting, persistence, property pages) and leaves the control's own
// behaviour to a few hooks.
//
//   class CClockCtrl : public ui::Control<CClockCtrl> {
//    public:
//     CClockCtrl() : Control(ClockLibrary(), DClockIid) {}   // DispatchObject's arguments
//    protected:
//     bool OnCreate() override { ...; return true; }          // window exists already
//     void OnDestroy() override { ... }                       // window is gone already
//     void OnDraw(ui::Painter& p, const ui::Rect& r) override { p.FillSolidRect(r, ui::Rgb(0, 0,
//     0)); } void DoPropExchange(ui::PropExchange& px) override {
//       ExchangeVersion(px, ui::MakeVersion(1, 0));
//       Control::DoPropExchange(px);
//     }
//   };
//
// Control<T> derives from com::DispatchObject<T, IPlatformControl> (IUnknown,
// IDispatch, the dispinterface, IPlatformControl) and from ControlCore, which
// holds the state and the hooks. A second template argument replaces the COM
// base (tests use it to host a control without a type library).
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/com/dispatch_object.h"
#include "platform/ui/control_interfaces.h"
#include "platform/ui/painter.h"
#include "platform/ui/prop_exchange.h"

namespace ui {

class ControlWidget;

class ControlCore {
 public:
  ControlCore();
  ControlCore(const ControlCore&) = delete;
  ControlCore& operator=(const ControlCore&) = delete;
  virtual ~ControlCore();

  // --- Helpers for the control author.

  // The container's ambient user mode: true in run mode, false in design
  // mode; true without a site or when the site does not say.
  bool AmbientUserMode() const;
  void SetModifiedFlag(bool modified = true);
  bool IsModified() const { return modified_; }
  // Tells the site that the bound property `dispid` changed.
  void BoundPropertyChanged(DISPID dispid);
  // Exchanges the version stamp: loading records the stamp found
  // (LoadedVersion), saving writes `currentVersion`.
  void ExchangeVersion(PropExchange& px, DWORD currentVersion);
  DWORD LoadedVersion() const { return loadedVersion_; }

  bool HasWindow() const;
  // The window's rectangle in its parent (empty without a window).
  Rect WindowRect() const;
  // The control's QWidget; null while headless or without a window.
  QWidget* Widget() const;
  // Resizes the control's own window, keeping its position (and, with a
  // QWidget, its stacking order and focus). False without a window.
  bool ResizeWindow(int width, int height);
  // Asks the container for a new size at the same position; without a site
  // the window is resized directly. False when refused or without a window.
  bool SetControlSize(int width, int height);
  // Schedules a repaint of the window (nothing while headless).
  void InvalidateControl();
  IPlatformControlSite* ClientSite() const { return site_.Get(); }

 protected:
  // --- Hooks.

  // After the base created the window; false makes creation fail (the window
  // is then destroyed again, and OnDestroy runs).
  virtual bool OnCreate() { return true; }
  // After the base destroyed the window.
  virtual void OnDestroy() {}
  virtual void OnDraw(Painter& painter, const Rect& bounds);
  // Back to defaults: by default every property exchanged takes its default.
  virtual void OnResetState();
  // The base exchanges no stock property.
  virtual void DoPropExchange(PropExchange& px);
  virtual std::vector<CLSID> GetPropertyPageIds() { return {}; }
  // Builds the page of `clsid` as a child of `parent` for the properties
  // verb; null for a page the control cannot show.
  virtual QWidget* CreatePropertyPage(const CLSID& clsid, QWidget* parent);
  // The name the properties dialog is captioned after ("<name> Properties").
  virtual std::string UserTypeName() const { return "Control"; }
  virtual DWORD GetMiscStatusBits() const {
    return OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT |
           OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST;
  }

  // --- IPlatformControl, forwarded by Control<T>.
  HRESULT CoreSetClientSite(IPlatformControlSite* site);
  HRESULT CoreGetClientSite(IPlatformControlSite** site);
  HRESULT CoreActivate(QWidget* parent, const Rect& rect);
  HRESULT CoreDeactivate();
  HRESULT CoreGetObjectRect(Rect* rect);
  HRESULT CoreSetObjectRect(const Rect& rect);
  HRESULT CoreGetWindow(QWidget** widget);
  HRESULT CoreDraw(Painter* painter, const Rect& bounds);
  HRESULT CoreDoPropertiesVerb(QWidget* parent);
  HRESULT CoreGetPropertyPages(std::vector<CLSID>* pages);
  HRESULT CoreGetMiscStatus(DWORD* status);
  HRESULT CoreInitNew();
  HRESULT CoreLoad(const PropertyBag& bag);
  HRESULT CoreSave(PropertyBag* bag, bool clearDirty);
  HRESULT CoreIsDirty();

 private:
  friend class ControlWidget;
  struct Window;
  void PaintWidget(QWidget* widget);
  // The widget went away under us (its parent was deleted).
  void WidgetDestroyed();
  void DestroyWindowAndNotify();

  com::ComPtr<IPlatformControlSite> site_;
  std::unique_ptr<Window> window_;
  bool modified_ = false;
  bool destroying_ = false;
  DWORD loadedVersion_ = 0;
};

template <class T, class ComBase = com::DispatchObject<T, IPlatformControl>>
class Control : public ComBase, public ControlCore {
 public:
  template <class... Args>
  explicit Control(Args&&... args) : ComBase(std::forward<Args>(args)...) {}

  HRESULT SetClientSite(IPlatformControlSite* site) override { return CoreSetClientSite(site); }
  HRESULT GetClientSite(IPlatformControlSite** site) override { return CoreGetClientSite(site); }
  HRESULT Activate(QWidget* parent, const Rect& rect) override {
    return CoreActivate(parent, rect);
  }
  HRESULT Deactivate() override { return CoreDeactivate(); }
  HRESULT GetObjectRect(Rect* rect) override { return CoreGetObjectRect(rect); }
  HRESULT SetObjectRect(const Rect& rect) override { return CoreSetObjectRect(rect); }
  HRESULT GetWindow(QWidget** widget) override { return CoreGetWindow(widget); }
  HRESULT Draw(Painter* painter, const Rect& bounds) override { return CoreDraw(painter, bounds); }
  HRESULT DoPropertiesVerb(QWidget* parent) override { return CoreDoPropertiesVerb(parent); }
  HRESULT GetPropertyPages(std::vector<CLSID>* pages) override {
    return CoreGetPropertyPages(pages);
  }
  HRESULT GetMiscStatus(DWORD* status) override { return CoreGetMiscStatus(status); }
  HRESULT InitNew() override { return CoreInitNew(); }
  HRESULT Load(const PropertyBag& bag) override { return CoreLoad(bag); }
  HRESULT Save(PropertyBag* bag, bool clearDirty) override { return CoreSave(bag, clearDirty); }
  HRESULT IsDirty() override { return CoreIsDirty(); }
};

}  // namespace ui
