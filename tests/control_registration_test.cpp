// SPDX-License-Identifier: LGPL-2.1-or-later
// Mailquarry.ocx as a module: the classes it serves, what registration writes
// and removes, and the type library it describes itself by. The module is
// loaded with dlopen; this program does not link the control.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "platform/activation/activation.h"
#include "platform/activation/registration.h"
#include "platform/com/testing/automation_client.h"
#include "platform/com/typeinfo.h"
#include "platform/registry/registry.h"
#include "platform/testing/registered_modules.h"

namespace {

using reg::Root;

constexpr CLSID kControl = com::Guid("{F0DF45CE-EE4E-434D-96B4-61C8616B5712}");
constexpr CLSID kPropPage = com::Guid("{35475A04-7C1E-4441-B992-0AD49430BF6F}");
constexpr CLSID kFolders = com::Guid("{6EA8D7D7-9CCD-4AA6-9DE5-131B4C6DDDC4}");
constexpr GUID kLibId = com::Guid("{852F7E51-E5D2-4F52-83DC-46C1359B3E32}");
const std::string kControlKey = "CLSID\\{F0DF45CE-EE4E-434D-96B4-61C8616B5712}";

// An entry point of the module, which stays loaded for the whole program.
template <class F>
F Symbol(const char* name) {
  static void* const module =
      dlopen((mqtest::BinDir() + "/Mailquarry.ocx").c_str(), RTLD_NOW | RTLD_LOCAL);
  return module ? reinterpret_cast<F>(dlsym(module, name)) : nullptr;
}

std::string Value(const std::string& key, const std::string& name = "") {
  std::string value;
  if (FAILED(reg::GetString(Root::ClassesRoot, key, name, &value))) return "<absent>";
  return value;
}

// A host unloads the module when DllCanUnloadNow says so: it must not while
// anything it served lives.
TEST(ControlModule, ServesTheControlAndItsPageOnlyAndCountsWhatIsAlive) {
  auto getClassObject = Symbol<DllGetClassObjectFn>("DllGetClassObject");
  auto canUnload = Symbol<DllCanUnloadNowFn>("DllCanUnloadNow");
  ASSERT_TRUE(getClassObject && canUnload) << dlerror();
  mqtest::RegisteredModules registry(std::vector<std::string>{});
  com::ComPtr<IClassFactory> factory;
  EXPECT_EQ(getClassObject(kFolders, IID_IClassFactory, factory.ReleaseAndGetVoidAddress()),
            CLASS_E_CLASSNOTAVAILABLE);
  ASSERT_EQ(getClassObject(kPropPage, IID_IClassFactory, factory.ReleaseAndGetVoidAddress()), S_OK);
  ASSERT_EQ(getClassObject(kControl, IID_IClassFactory, factory.ReleaseAndGetVoidAddress()), S_OK);
  EXPECT_EQ(canUnload(), S_OK);
  factory->LockServer(TRUE);
  EXPECT_EQ(canUnload(), S_FALSE);
  factory->LockServer(FALSE);
  EXPECT_EQ(canUnload(), S_OK);
  {
    com::ComPtr<IDispatch> control;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, control.ReleaseAndGetVoidAddress()),
              S_OK);
    EXPECT_EQ(canUnload(), S_FALSE);

    // The control describes itself by the registered library only.
    com::ComPtr<ITypeInfo> info;
    EXPECT_EQ(control->GetTypeInfo(0, 0x409, info.ReleaseAndGetAddressOf()),
              TYPE_E_LIBNOTREGISTERED);
    ASSERT_EQ(Symbol<DllRegisterServerFn>("DllRegisterServer")(), S_OK);
    ASSERT_EQ(control->GetTypeInfo(0, 0x409, info.ReleaseAndGetAddressOf()), S_OK);
    BSTR name = nullptr;
    ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(com::Utf8FromBstr(name), "_DMailquarry");
    SysFreeString(name);
    info.Reset();
    EXPECT_EQ(Symbol<DllUnregisterServerFn>("DllUnregisterServer")(), S_OK);
  }
  EXPECT_EQ(canUnload(), S_OK);
}

TEST(ControlModule, RegistrationWritesTheClassesAndUnregistrationRemovesThemAll) {
  mqtest::RegisteredModules registry(std::vector<std::string>{});
  // A registry that holds other classes and libraries already, as every
  // installation's does.
  ASSERT_EQ(reg::Edit()
                .SetString(Root::ClassesRoot, "CLSID\\{11111111-2222-3333-4444-555555555555}", "",
                           "Other")
                .SetString(Root::ClassesRoot, "TypeLib\\{11111111-2222-3333-4444-555555555556}", "",
                           "Other library")
                .SetString(Root::ClassesRoot, "Interface\\{11111111-2222-3333-4444-555555555557}",
                           "", "IOther")
                .Commit(),
            S_OK);
  const std::string before = mqtest::ReadFile(registry.RegistryFile());

  ASSERT_TRUE(registry.Regsvr("Mailquarry.ocx")) << registry.Log();
  // What containers read before they create the control.
  const std::tuple<std::string, std::string, std::string> values[] = {
      {kControlKey + "\\InprocServer32", "ThreadingModel", "Apartment"},
      {"MAILQUARRY.MailquarryCtrl.1\\CLSID", "", "{F0DF45CE-EE4E-434D-96B4-61C8616B5712}"},
      {kControlKey + "\\MiscStatus\\1", "", "131473"},  // 0x20191
      {kControlKey + "\\TypeLib", "", "{852F7E51-E5D2-4F52-83DC-46C1359B3E32}"}};
  for (const auto& [key, name, value] : values) EXPECT_EQ(Value(key, name), value) << key;
  EXPECT_TRUE(reg::KeyExists(Root::ClassesRoot, kControlKey + "\\Control"));
  EXPECT_NE(com::RegisteredTypeLibPath(kLibId, 1, 0, 0x409), "");

  // Type-only coclasses are not registered; the control is.
  com::ComPtr<IUnknown> object;
  EXPECT_EQ(CoCreateInstance(kFolders, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             object.ReleaseAndGetVoidAddress()),
            REGDB_E_CLASSNOTREG);
  ASSERT_EQ(CoCreateInstance(kControl, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             object.ReleaseAndGetVoidAddress()),
            S_OK);
  object.Reset();

  ASSERT_TRUE(registry.Regsvr("Mailquarry.ocx", /*unregister=*/true)) << registry.Log();
  EXPECT_EQ(mqtest::ReadFile(registry.RegistryFile()), before);
}

}  // namespace
