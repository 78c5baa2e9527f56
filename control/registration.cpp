#include "control/registration.h"

#include "control/guids.h"
#include "platform/com/typeinfo.h"
#include "platform/registry/registry.h"

namespace mq {
namespace {

using reg::Root;

constexpr DWORD kMiscStatus = 0x20191;

std::string ClassKey(const CLSID& clsid) {
  return "CLSID\\" + com::GuidToString(clsid);
}

void WriteInprocServer(reg::Edit& edit, const std::string& key, const std::string& modulePath) {
  edit.SetString(Root::ClassesRoot, key + "\\InprocServer32", "", modulePath)
      .SetString(Root::ClassesRoot, key + "\\InprocServer32", "ThreadingModel", "Apartment");
}

HRESULT RegisterControlClass(const std::string& modulePath) {
  const std::string key = ClassKey(CLSID_Mailquarry);
  const std::string clsid = com::GuidToString(CLSID_Mailquarry);
  reg::Edit edit;
  // A fresh start, so nothing of an earlier registration (an Insertable key,
  // say) survives.
  edit.DeleteTree(Root::ClassesRoot, key)
      .DeleteTree(Root::ClassesRoot, kControlProgId)
      .SetString(Root::ClassesRoot, kControlProgId, "", kControlTypeName)
      .SetString(Root::ClassesRoot, std::string(kControlProgId) + "\\CLSID", "", clsid)
      .SetString(Root::ClassesRoot, key, "", kControlTypeName)
      .SetString(Root::ClassesRoot, key + "\\ProgID", "", kControlProgId);
  WriteInprocServer(edit, key, modulePath);
  edit.SetString(Root::ClassesRoot, key + "\\ToolboxBitmap32", "", modulePath + ",1")
      .CreateKey(Root::ClassesRoot, key + "\\Control")
      .SetString(Root::ClassesRoot, key + "\\MiscStatus", "", "0")
      .SetString(Root::ClassesRoot, key + "\\MiscStatus\\1", "", std::to_string(kMiscStatus))
      .SetString(Root::ClassesRoot, key + "\\TypeLib", "", com::GuidToString(LIBID_MAILQUARRYLib))
      .SetString(Root::ClassesRoot, key + "\\Version", "",
                 std::to_string(kLibMajor) + "." + std::to_string(kLibMinor));
  return edit.Commit();
}

HRESULT RegisterPropPageClass(const std::string& modulePath) {
  const std::string key = ClassKey(CLSID_MailquarryPropPage);
  reg::Edit edit;
  edit.DeleteTree(Root::ClassesRoot, key).SetString(Root::ClassesRoot, key, "", kPropPageTypeName);
  WriteInprocServer(edit, key, modulePath);
  return edit.Commit();
}

HRESULT UnregisterControlClass() {
  return reg::Edit()
      .DeleteTree(Root::ClassesRoot, ClassKey(CLSID_Mailquarry))
      .DeleteTree(Root::ClassesRoot, kControlProgId)
      .Commit();
}

HRESULT UnregisterPropPageClass() {
  return reg::Edit().DeleteTree(Root::ClassesRoot, ClassKey(CLSID_MailquarryPropPage)).Commit();
}

}  // namespace

HRESULT RegisterServer(const std::string& modulePath) {
  if (FAILED(com::RegisterModuleTypeLib(modulePath))) return SELFREG_E_TYPELIB;
  if (FAILED(RegisterControlClass(modulePath)) || FAILED(RegisterPropPageClass(modulePath)))
    return SELFREG_E_CLASS;
  return S_OK;
}

HRESULT UnregisterServer() {
  if (FAILED(UnRegisterTypeLib(LIBID_MAILQUARRYLib, kLibMajor, kLibMinor, 0, SYS_WIN32)))
    return SELFREG_E_TYPELIB;
  if (FAILED(UnregisterControlClass()) || FAILED(UnregisterPropPageClass())) return SELFREG_E_CLASS;
  return S_OK;
}

}  // namespace mq
