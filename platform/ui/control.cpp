// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/ui/control.h"

#include <QApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QWidget>

#include "platform/ui/dialogs.h"

namespace ui {

// The control's window when it has a parent QWidget: paints through the
// control's drawing hook and tells the control when Qt deletes it (with its
// parent dialog, say).
class ControlWidget : public QWidget {
 public:
  ControlWidget(ControlCore* core, QWidget* parent) : QWidget(parent), core_(core) {
    setObjectName(QStringLiteral("controlWindow"));
  }
  ~ControlWidget() override {
    if (core_) core_->WidgetDestroyed();
  }
  void Detach() { core_ = nullptr; }

 protected:
  void paintEvent(QPaintEvent*) override {
    if (core_) core_->PaintWidget(this);
  }

 private:
  ControlCore* core_;
};

// Either a real widget or, headless, just the rectangle.
struct ControlCore::Window {
  QPointer<ControlWidget> widget;
  Rect rect;
};

ControlCore::ControlCore() = default;

ControlCore::~ControlCore() {
  // Hooks cannot run here (the derived part is gone); only let go of the
  // widget so that it never calls back into a dead object.
  if (window_ && window_->widget) {
    window_->widget->Detach();
    delete window_->widget.data();
  }
}

bool ControlCore::AmbientUserMode() const {
  if (!site_) return true;
  com::Variant value;
  if (site_->GetAmbientProperty(DISPID_AMBIENT_USERMODE, &value) != S_OK) return true;
  if (value.vt != VT_BOOL) return true;
  return value.boolVal != VARIANT_FALSE;
}

void ControlCore::SetModifiedFlag(bool modified) {
  modified_ = modified;
  if (modified && site_) site_->OnControlModified();
}

void ControlCore::BoundPropertyChanged(DISPID dispid) {
  if (site_) site_->OnPropertyChanged(dispid);
}

void ControlCore::ExchangeVersion(PropExchange& px, DWORD currentVersion) {
  DWORD version = currentVersion;
  px.ExchangeVersion(version, currentVersion);
  if (px.IsLoading()) loadedVersion_ = version;
}

bool ControlCore::HasWindow() const {
  return window_ != nullptr;
}

Rect ControlCore::WindowRect() const {
  if (!window_) return {};
  if (window_->widget) {
    QRect g = window_->widget->geometry();
    return Rect::FromSize(g.x(), g.y(), g.width(), g.height());
  }
  return window_->rect;
}

QWidget* ControlCore::Widget() const {
  return window_ ? window_->widget.data() : nullptr;
}

bool ControlCore::ResizeWindow(int width, int height) {
  if (!window_ || width < 0 || height < 0) return false;
  Rect& r = window_->rect;
  r.right = r.left + width;
  r.bottom = r.top + height;
  if (window_->widget) window_->widget->resize(width, height);
  return true;
}

bool ControlCore::SetControlSize(int width, int height) {
  if (!window_ || width < 0 || height < 0) return false;
  Rect current = WindowRect();
  Rect wanted = Rect::FromSize(current.left, current.top, width, height);
  if (site_) return site_->OnPosRectChange(wanted) == S_OK && WindowRect() == wanted;
  return CoreSetObjectRect(wanted) == S_OK;
}

void ControlCore::InvalidateControl() {
  if (window_ && window_->widget) window_->widget->update();
}

void ControlCore::OnDraw(Painter&, const Rect&) {}

void ControlCore::OnResetState() {
  PropertyBag empty;
  PropExchange px(empty, /*loading=*/true);
  DoPropExchange(px);
}

void ControlCore::DoPropExchange(PropExchange&) {}

QWidget* ControlCore::CreatePropertyPage(const CLSID&, QWidget*) {
  return nullptr;
}

HRESULT ControlCore::CoreSetClientSite(IPlatformControlSite* site) {
  site_ = com::ComPtr<IPlatformControlSite>(site);
  return S_OK;
}

HRESULT ControlCore::CoreGetClientSite(IPlatformControlSite** site) {
  if (!site) return E_POINTER;
  *site = site_.CopyOut();
  return S_OK;
}

HRESULT ControlCore::CoreActivate(QWidget* parent, const Rect& rect) {
  if (window_) return E_UNEXPECTED;
  if (rect.Width() < 0 || rect.Height() < 0) return E_INVALIDARG;
  if (parent && !qobject_cast<QApplication*>(QCoreApplication::instance())) return E_INVALIDARG;
  window_ = std::make_unique<Window>();
  window_->rect = rect;
  if (parent) {
    auto* widget = new ControlWidget(this, parent);
    widget->setGeometry(rect.left, rect.top, rect.Width(), rect.Height());
    window_->widget = widget;
    widget->show();
  }
  if (!OnCreate()) {
    DestroyWindowAndNotify();
    return E_FAIL;
  }
  return S_OK;
}

void ControlCore::DestroyWindowAndNotify() {
  if (!window_ || destroying_) return;
  destroying_ = true;
  std::unique_ptr<Window> window = std::move(window_);
  if (window->widget) {
    window->widget->Detach();
    delete window->widget.data();
  }
  window.reset();
  OnDestroy();
  destroying_ = false;
}

void ControlCore::WidgetDestroyed() {
  if (!window_ || destroying_) return;
  window_->widget = nullptr;  // already being deleted by Qt
  DestroyWindowAndNotify();
}

HRESULT ControlCore::CoreDeactivate() {
  if (!window_) return S_FALSE;
  DestroyWindowAndNotify();
  return S_OK;
}

HRESULT ControlCore::CoreGetObjectRect(Rect* rect) {
  if (!rect) return E_POINTER;
  if (!window_) return E_FAIL;
  *rect = WindowRect();
  return S_OK;
}

HRESULT ControlCore::CoreSetObjectRect(const Rect& rect) {
  if (!window_) return E_FAIL;
  if (rect.Width() < 0 || rect.Height() < 0) return E_INVALIDARG;
  window_->rect = rect;
  if (window_->widget)
    window_->widget->setGeometry(rect.left, rect.top, rect.Width(), rect.Height());
  return S_OK;
}

HRESULT ControlCore::CoreGetWindow(QWidget** widget) {
  if (!widget) return E_POINTER;
  *widget = Widget();
  return S_OK;
}

HRESULT ControlCore::CoreDraw(Painter* painter, const Rect& bounds) {
  if (!painter) return E_POINTER;
  OnDraw(*painter, bounds);
  return S_OK;
}

void ControlCore::PaintWidget(QWidget* widget) {
  QPainter qpainter(widget);
  QtPainter painter(qpainter);
  OnDraw(painter, Rect::FromSize(0, 0, widget->width(), widget->height()));
}

HRESULT ControlCore::CoreDoPropertiesVerb(QWidget* parent) {
  if (!GuiAvailable()) return S_FALSE;
  std::vector<QWidget*> pages;
  for (const CLSID& clsid : GetPropertyPageIds()) {
    if (QWidget* page = CreatePropertyPage(clsid, nullptr)) pages.push_back(page);
  }
  if (pages.empty()) return S_FALSE;
  ShowPropertySheet(QString::fromStdString(UserTypeName() + " Properties"), std::move(pages),
                    parent ? parent : Widget());
  return S_OK;
}

HRESULT ControlCore::CoreGetPropertyPages(std::vector<CLSID>* pages) {
  if (!pages) return E_POINTER;
  *pages = GetPropertyPageIds();
  return S_OK;
}

HRESULT ControlCore::CoreGetMiscStatus(DWORD* status) {
  if (!status) return E_POINTER;
  *status = GetMiscStatusBits();
  return S_OK;
}

HRESULT ControlCore::CoreInitNew() {
  OnResetState();
  modified_ = false;
  return S_OK;
}

HRESULT ControlCore::CoreLoad(const PropertyBag& bag) {
  PropertyBag copy = bag;
  PropExchange px(copy, /*loading=*/true);
  DoPropExchange(px);
  modified_ = false;
  return S_OK;
}

HRESULT ControlCore::CoreSave(PropertyBag* bag, bool clearDirty) {
  if (!bag) return E_POINTER;
  PropExchange px(*bag, /*loading=*/false);
  DoPropExchange(px);
  if (clearDirty) modified_ = false;
  return S_OK;
}

HRESULT ControlCore::CoreIsDirty() {
  return modified_ ? S_OK : S_FALSE;
}

}  // namespace ui
