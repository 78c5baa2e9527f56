// Mailquarry.ocx as a module: its entry points, what registration writes and
// removes, and what tools read from it. The module is loaded with dlopen; this
// program does not link the control.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <string>
#include <tuple>

#include "platform/com/activation.h"
#include "platform/com/typeinfo.h"
#include "platform/registry/registry.h"
#include "tests/support/automation_client.h"
#include "tests/support/registered_modules.h"

namespace {

using reg::Root;

constexpr CLSID kControl = com::Guid("{F0DF45CE-EE4E-434D-96B4-61C8616B5712}");
constexpr CLSID kPropPage = com::Guid("{35475A04-7C1E-4441-B992-0AD49430BF6F}");
constexpr CLSID kFolders = com::Guid("{6EA8D7D7-9CCD-4AA6-9DE5-131B4C6DDDC4}");
constexpr GUID kLibId = com::Guid("{852F7E51-E5D2-4F52-83DC-46C1359B3E32}");
const std::string kControlKey = "CLSID\\{F0DF45CE-EE4E-434D-96B4-61C8616B5712}";

// The module, loaded for the whole test program.
struct Module {
  Module() {
    path = mqtest::BinDir() + "/Mailquarry.ocx";
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  ~Module() {
    if (handle) dlclose(handle);
  }
  template <class F>
  F Symbol(const char* name) const {
    return handle ? reinterpret_cast<F>(dlsym(handle, name)) : nullptr;
  }
  std::string path;
  void* handle = nullptr;
};

Module& TheModule() {
  static Module module;
  return module;
}

std::string Value(const std::string& key, const std::string& name = "") {
  std::string value;
  if (FAILED(reg::GetString(Root::ClassesRoot, key, name, &value))) return "<absent>";
  return value;
}

TEST(ControlModule, ExportsItsEntryPointsVersionAndBitmap) {
  Module& m = TheModule();
  ASSERT_NE(m.handle, nullptr) << dlerror();
  for (const char* name : {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                           "DllUnregisterServer", "MqGetTypeLibrary"})
    EXPECT_NE(dlsym(m.handle, name), nullptr) << name;

  auto version = m.Symbol<const char* const* (*)()>("MqGetVersionInfo");
  ASSERT_NE(version, nullptr);
  std::map<std::string, std::string> info;
  for (const char* const* e = version(); *e; e += 2) info[e[0]] = e[1];
  for (const char* key : {"FileVersion", "ProductVersion"}) EXPECT_EQ(info[key], "1.0.0.1");
  for (const char* key : {"FileDescription", "ProductName"}) EXPECT_EQ(info[key], "Mailquarry dll");
  EXPECT_EQ(info["OriginalFilename"], "Mailquarry.dll");
  for (const char* key : {"CompanyName", "LegalCopyright"})
    EXPECT_NE(info[key].find("the Mailquarry developers"), std::string::npos) << key;

  auto bitmap = m.Symbol<HRESULT (*)(int, const unsigned char**, size_t*)>("MqGetBitmapResource");
  ASSERT_NE(bitmap, nullptr);
  const unsigned char* data = nullptr;
  size_t size = 0;
  ASSERT_EQ(bitmap(1, &data, &size), S_OK);
  ASSERT_GE(size, 54u);
  auto u32 = [&](size_t at) {
    std::uint32_t v;
    std::memcpy(&v, data + at, 4);
    return v;
  };
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), 2), "BM");
  EXPECT_EQ(u32(2), size);
  EXPECT_EQ(u32(18), 16u);                   // width
  EXPECT_EQ(u32(22), 16u);                   // height
  EXPECT_EQ(data[28] | (data[29] << 8), 4);  // bits per pixel: 16 colours
  EXPECT_EQ(bitmap(2, &data, &size), E_INVALIDARG);
}

TEST(ControlModule, ServesTheControlAndItsPageOnlyAndCountsWhatIsAlive) {
  Module& m = TheModule();
  ASSERT_NE(m.handle, nullptr);
  auto getClassObject = m.Symbol<DllGetClassObjectFn>("DllGetClassObject");
  auto canUnload = m.Symbol<DllCanUnloadNowFn>("DllCanUnloadNow");
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
    // A client binding by name finds Item where the library puts it.
    EXPECT_EQ(mqtest::DispId(mqtest::Get(control, "Messages").Object().Get(), "item"), 22);
    EXPECT_EQ(mqtest::DispId(mqtest::Get(control, "Folders").Object().Get(), "Item"), 13);
    EXPECT_EQ(mqtest::DispId(mqtest::Get(control, "Contacts").Object().Get(), "Item"), 21);
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
  const std::string path = Value(kControlKey + "\\InprocServer32");
  EXPECT_EQ(path.substr(path.rfind('/') + 1), "Mailquarry.ocx");
  const std::tuple<std::string, std::string, std::string> values[] = {
      {kControlKey, "", "Mailquarry Control"},
      {kControlKey + "\\InprocServer32", "ThreadingModel", "Apartment"},
      {kControlKey + "\\ProgID", "", "MAILQUARRY.MailquarryCtrl.1"},
      {"MAILQUARRY.MailquarryCtrl.1\\CLSID", "", "{F0DF45CE-EE4E-434D-96B4-61C8616B5712}"},
      {kControlKey + "\\MiscStatus\\1", "", "131473"},  // 0x20191
      {kControlKey + "\\TypeLib", "", "{852F7E51-E5D2-4F52-83DC-46C1359B3E32}"},
      {kControlKey + "\\Version", "", "1.0"},
      {"CLSID\\{35475A04-7C1E-4441-B992-0AD49430BF6F}", "", "Mailquarry Property Page"}};
  for (const auto& [key, name, value] : values) EXPECT_EQ(Value(key, name), value) << key;
  EXPECT_TRUE(reg::KeyExists(Root::ClassesRoot, kControlKey + "\\Control"));
  EXPECT_FALSE(reg::KeyExists(Root::ClassesRoot, kControlKey + "\\Insertable"));
  EXPECT_EQ(Value(kControlKey + "\\ToolboxBitmap32").find(path), 0u);
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
  // Unregistering what is not registered fails at the type library.
  EXPECT_FALSE(registry.Regsvr("Mailquarry.ocx", true));
  EXPECT_NE(registry.Log().find("0x80040200"), std::string::npos) << registry.Log();
}

TEST(ControlModule, TheControlDescribesItselfOnlyOnceItsLibraryIsRegistered) {
  Module& m = TheModule();
  ASSERT_NE(m.handle, nullptr);
  mqtest::RegisteredModules registry(std::vector<std::string>{});
  com::ComPtr<IClassFactory> factory;
  ASSERT_EQ(m.Symbol<DllGetClassObjectFn>("DllGetClassObject")(kControl, IID_IClassFactory,
                                                               factory.ReleaseAndGetVoidAddress()),
            S_OK);
  com::ComPtr<IDispatch> control;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, control.ReleaseAndGetVoidAddress()),
            S_OK);
  UINT count = 0;
  EXPECT_EQ(control->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  com::ComPtr<ITypeInfo> info;
  EXPECT_EQ(control->GetTypeInfo(0, 0x409, info.ReleaseAndGetAddressOf()), TYPE_E_LIBNOTREGISTERED);
  ASSERT_EQ(m.Symbol<DllRegisterServerFn>("DllRegisterServer")(), S_OK);
  ASSERT_EQ(control->GetTypeInfo(0, 0x409, info.ReleaseAndGetAddressOf()), S_OK);
  BSTR name = nullptr;
  ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(com::Utf8FromBstr(name), "_DMailquarry");
  SysFreeString(name);
  info.Reset();
  EXPECT_EQ(m.Symbol<DllUnregisterServerFn>("DllUnregisterServer")(), S_OK);
}

}  // namespace
