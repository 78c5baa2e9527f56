// SPDX-License-Identifier: LGPL-2.1-or-later
// A small control for the tests of the hosting machinery: it logs its hooks,
// persists one property and has one property page. (Drawing is the real
// control's test.)
#pragma once

#include <string>
#include <vector>

#include "platform/ui/control.h"
#include "platform/ui/dialogs.h"

namespace ui::test {

// Stands in for the dispatch engine: IUnknown and an IDispatch that knows no members.
class BareDispatch : public com::Object<IDispatch, IPlatformControl> {
 public:
  HRESULT GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return DISP_E_MEMBERNOTFOUND;
  }
};

inline constexpr CLSID kTestCtrlClsid = com::Guid("{04A85A01-B999-4D6E-89F8-97564712EAC9}");
inline constexpr CLSID kTestPageClsid = com::Guid("{04A85A01-B999-4D6E-89F8-97564712EAC8}");
inline constexpr const char* kTestCaption = "Test Control";

class TestCtrl : public Control<TestCtrl, BareDispatch> {
 public:
  explicit TestCtrl(std::vector<std::string>* log) : log_(log) {}

  SHORT value = 0;
  bool failCreate = false;

  void SetValue(SHORT v) {
    SetModifiedFlag();
    if (!AmbientUserMode()) BoundPropertyChanged(2);
    value = v;
  }

 protected:
  bool OnCreate() override {
    log_->push_back(HasWindow() ? "create, window exists" : "create, no window");
    return !failCreate;
  }
  void OnDestroy() override {
    log_->push_back(HasWindow() ? "destroy, window exists" : "destroy, window gone");
  }
  void DoPropExchange(PropExchange& px) override {
    ExchangeVersion(px, MakeVersion(1, 0));
    Control::DoPropExchange(px);
    px.Exchange("Value", value, SHORT{7});
  }
  std::vector<CLSID> GetPropertyPageIds() override { return {kTestPageClsid}; }
  QWidget* CreatePropertyPage(const CLSID& clsid, QWidget* parent) override {
    if (!(clsid == kTestPageClsid)) return nullptr;
    return new PropertyPageWidget("General", "nothing to set", 250, 62, parent);
  }
  std::string UserTypeName() const override { return kTestCaption; }

 private:
  std::vector<std::string>* log_;
};

}  // namespace ui::test
