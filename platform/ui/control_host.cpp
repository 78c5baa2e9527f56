// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/ui/control_host.h"

#include <QWidget>

namespace ui {

class ControlHost::Site : public com::Object<IPlatformControlSite> {
 public:
  explicit Site(ControlHost* host) : host_(host) {}
  void Orphan() { host_ = nullptr; }

  HRESULT GetAmbientProperty(DISPID dispid, VARIANT* value) override {
    if (!value) return E_POINTER;
    VariantInit(value);
    if (!host_) return E_UNEXPECTED;
    if (dispid == DISPID_AMBIENT_USERMODE) {
      value->vt = VT_BOOL;
      value->boolVal = host_->userMode_ ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    }
    return DISP_E_MEMBERNOTFOUND;
  }
  HRESULT OnPropertyChanged(DISPID dispid) override {
    if (host_) host_->changed_.push_back(dispid);
    return S_OK;
  }
  HRESULT OnControlModified() override {
    if (host_) ++host_->modifiedCount_;
    return S_OK;
  }
  HRESULT OnPosRectChange(const Rect& rect) override {
    if (!host_ || !host_->control_ || !host_->allowResize_) return S_FALSE;
    return host_->control_->SetObjectRect(rect);
  }

 private:
  ControlHost* host_;
};

ControlHost::ControlHost(bool userMode) : userMode_(userMode), site_(com::MakeObject<Site>(this)) {}

ControlHost::~ControlHost() {
  Close();
  if (site_) site_->Orphan();
}

HRESULT ControlHost::Attach(IUnknown* control) {
  if (!control) return E_POINTER;
  if (control_) return E_UNEXPECTED;
  com::ComPtr<IPlatformControl> platform;
  com::ComPtr<IDispatch> dispatch;
  HRESULT hr = control->QueryInterface(IPlatformControl::iid, platform.ReleaseAndGetVoidAddress());
  if (FAILED(hr)) return hr;
  hr = control->QueryInterface(IDispatch::iid, dispatch.ReleaseAndGetVoidAddress());
  if (FAILED(hr)) return hr;
  hr = platform->SetClientSite(site_.Get());
  if (FAILED(hr)) return hr;
  hr = platform->InitNew();
  if (FAILED(hr)) {
    platform->SetClientSite(nullptr);
    return hr;
  }
  control_ = platform;
  dispatch_ = dispatch;
  return S_OK;
}

HRESULT ControlHost::Activate(QWidget* parent, const Rect& rect) {
  if (!control_) return E_UNEXPECTED;
  return control_->Activate(parent, rect);
}

HRESULT ControlHost::Deactivate() {
  if (!control_) return S_FALSE;
  return control_->Deactivate();
}

void ControlHost::Close() {
  if (!control_) return;
  control_->Deactivate();
  control_->SetClientSite(nullptr);
  dispatch_.Reset();
  control_.Reset();
}

QWidget* ControlHost::Window() const {
  QWidget* widget = nullptr;
  if (control_) control_->GetWindow(&widget);
  return widget;
}

Rect ControlHost::WindowRect() const {
  Rect rect;
  if (control_ && control_->GetObjectRect(&rect) == S_OK) return rect;
  return {};
}

RecordingPainter ControlHost::Paint() {
  RecordingPainter painter;
  if (!control_) return painter;
  Rect rect = WindowRect();
  control_->Draw(&painter, Rect::FromSize(0, 0, rect.Width(), rect.Height()));
  return painter;
}

QImage ControlHost::Render() {
  QWidget* widget = Window();
  if (!widget) return {};
  return widget->grab().toImage();
}

}  // namespace ui
