// SPDX-License-Identifier: LGPL-2.1-or-later
// MailStore.so through the registry: registered, created by class id from a
// process that does not link it, used, and unregistered.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/activation/activation.h"
#include "platform/registry/registry.h"
#include "platform/store/testing/maildir_fixture.h"
#include "platform/store/testing/store_test_util.h"

namespace store {
namespace {

namespace fs = std::filesystem;

TEST(MailStoreModule, RegistersAndServesTheNamespaceByClassId) {
  testing::MaildirFixture fx;
  fx.UseAsMailDir();
  fx.AddFolder({"B"});
  fx.AddMessage({"A", "A1"}, testing::MaildirFixture::Message("x@y", "z@w", "Re: hello"));
  mqtest::ScopedEnv registry("MAILQUARRY_REGISTRY", fx.root() + "/registry");

  std::string module = fs::canonical(std::string(std::getenv("MQ_BIN_DIR")) + "/MailStore.so");
  void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  auto reg = reinterpret_cast<DllRegisterServerFn>(dlsym(handle, "DllRegisterServer"));
  auto unreg = reinterpret_cast<DllUnregisterServerFn>(dlsym(handle, "DllUnregisterServer"));
  ASSERT_TRUE(reg && unreg && dlsym(handle, "DllGetClassObject") &&
              dlsym(handle, "DllCanUnloadNow"));
  ASSERT_EQ(reg(), S_OK);

  const std::string key = "CLSID\\" + com::GuidToString(CLSID_StoreNamespace) + "\\InprocServer32";
  std::string path, threading;
  ASSERT_EQ(reg::GetString(reg::Root::ClassesRoot, key, "", &path), S_OK);
  EXPECT_EQ(path, module);
  ASSERT_EQ(reg::GetString(reg::Root::ClassesRoot, key, "ThreadingModel", &threading), S_OK);
  EXPECT_EQ(threading, "Apartment");

  {
    com::ComPtr<IStoreNamespace> ns;
    ASSERT_EQ(CoCreateInstance(CLSID_StoreNamespace, nullptr, CLSCTX_ALL, IID_IStoreNamespace,
                               ns.ReleaseAndGetVoidAddress()),
              S_OK);
    ASSERT_EQ(ns->Initialize(nullptr, 0), S_OK);
    EXPECT_EQ(Listing(ns.Get()),
              (std::vector<std::string>{"Inbox", "A", "  A1 | *Re: hello", "B"}));
  }
  CoFreeUnusedLibraries();
  auto canUnload = reinterpret_cast<DllCanUnloadNowFn>(dlsym(handle, "DllCanUnloadNow"));
  EXPECT_EQ(canUnload(), S_OK);  // no object left alive

  EXPECT_EQ(unreg(), S_OK);
  EXPECT_FALSE(
      reg::KeyExists(reg::Root::ClassesRoot, "CLSID\\" + com::GuidToString(CLSID_StoreNamespace)));
  void* none = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_StoreNamespace, nullptr, CLSCTX_ALL, IID_IStoreNamespace, &none),
            REGDB_E_CLASSNOTREG);
  dlclose(handle);
}

}  // namespace
}  // namespace store
