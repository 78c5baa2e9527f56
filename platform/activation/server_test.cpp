// SPDX-License-Identifier: LGPL-2.1-or-later
// End to end: a module registered with regsvr into a temporary registry,
// created by ProgID and driven by name through IDispatch from this process,
// which does not link it; then unloaded and unregistered without a trace.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/activation/activation.h"
#include "platform/activation/registration.h"
#include "platform/com/memory.h"
#include "platform/com/testdata/sample_counter.h"
#include "platform/com/typeinfo.h"
#include "platform/registry/registry.h"
#include "platform/testing/registered_modules.h"
#include "platform/testing/scratch.h"

namespace fs = std::filesystem;

namespace {

using mqtest::ReadFile;

using sample::kCounterClsid;
using sample::kLibId;

std::string Bin(const char* name) {
  return mqtest::BinDir() + "/" + name;
}
std::string ModulePath() {
  return fs::canonical(Bin("sample_server.so")).string();
}

bool ModuleLoaded(const std::string& path = ModulePath()) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle) dlclose(handle);
  return handle != nullptr;
}

class Server : public ::testing::Test {
 protected:
  void SetUp() override {
    // Something unrelated, so registration starts from a file of its own.
    ASSERT_EQ(reg::Edit().SetString(reg::Root::CurrentUser, "Seed", "", "kept").Commit(), S_OK);
    before_ = ReadFile(registry_);
  }

  // regsvr's exit status; `out` holds this run's output alone.
  int Regsvr(const std::string& args, std::string* out) {
    out->clear();
    return mqtest::RunCommand(Bin("regsvr") + " " + args, out);
  }

  mqtest::TempDir temp_;
  const fs::path dir_ = temp_.path();
  const std::string registry_ = temp_ / "registry";
  mqtest::ScopedEnv env_{"MAILQUARRY_REGISTRY", registry_};
  const std::string system_ = temp_ / "etc/mailquarry/registry";
  mqtest::ScopedEnv system_dirs_{"XDG_CONFIG_DIRS", temp_ / "etc"};
  std::string before_;
};

TEST_F(Server, RegisteredCreatedInvokedUnloadedAndUnregistered) {
  std::string out;
  ASSERT_EQ(Regsvr(Bin("sample_server.so"), &out), 0) << out;
  EXPECT_EQ(out, "DllRegisterServer in " + Bin("sample_server.so") + ": 0x00000000\n");
  // The class and the type library both name the module's real path.
  for (const std::string& key : {"CLSID\\" + com::GuidToString(kCounterClsid) + "\\InprocServer32",
                                 "TypeLib\\" + com::GuidToString(kLibId) + "\\1.2\\409\\linux"}) {
    std::string text;
    ASSERT_EQ(reg::GetString(reg::Root::ClassesRoot, key, "", &text), S_OK) << key;
    EXPECT_EQ(text, ModulePath()) << key;
  }

  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(u"Sample.Counter.1", &clsid), S_OK);
  EXPECT_EQ(clsid, kCounterClsid);
  EXPECT_EQ(CLSIDFromProgID(u"Sample.Nothing.1", &clsid), CO_E_CLASSSTRING);
  LPOLESTR progId = nullptr;
  ASSERT_EQ(ProgIDFromCLSID(kCounterClsid, &progId), S_OK);
  EXPECT_EQ(std::u16string(progId), u"Sample.Counter.1");
  CoTaskMemFree(progId);

  EXPECT_FALSE(ModuleLoaded());
  com::ComPtr<IDispatch> counter;
  ASSERT_EQ(com::CreateInstance(kCounterClsid, &counter), S_OK);
  ASSERT_TRUE(ModuleLoaded());
  void* extra = dlopen(ModulePath().c_str(), RTLD_NOW | RTLD_NOLOAD);
  auto canUnload = reinterpret_cast<DllCanUnloadNowFn>(dlsym(extra, "DllCanUnloadNow"));
  dlclose(extra);  // activation holds the module; this test only peeks at it
  ASSERT_NE(canUnload, nullptr);
  EXPECT_EQ(canUnload(), S_FALSE);

  // Calls by name across the module, and the type information it gives:
  // the Python client's test (test_dispatch.py) over this same module.

  CoFreeUnusedLibraries();
  EXPECT_TRUE(ModuleLoaded()) << "unloaded while an object lives";
  counter.Reset();
  EXPECT_EQ(canUnload(), S_OK);
  CoFreeUnusedLibraries();
  EXPECT_FALSE(ModuleLoaded());

  // The registered library loads by LIBID and reads back as the module's.
  com::ComPtr<ITypeLib> lib;
  ASSERT_EQ(LoadRegTypeLib(kLibId, 1, 2, 0, lib.ReleaseAndGetAddressOf()), S_OK);
  lib.Reset();
  std::string byModule, byLibId;
  ASSERT_EQ(mqtest::RunCommand(Bin("tlbdump") + " " + Bin("sample_server.so"), &byModule), 0);
  ASSERT_EQ(mqtest::RunCommand(Bin("tlbdump") + " '" + com::GuidToString(kLibId) + "'", &byLibId),
            0);
  EXPECT_EQ(byModule, byLibId);
  EXPECT_NE(byModule.find("help \"Sample \\\"counter\\\" library\""), std::string::npos);
  EXPECT_NE(byModule.find("func 2 propput Name(BSTR) -> void help \"The counter's name\""),
            std::string::npos)
      << byModule;

  ASSERT_EQ(Regsvr("-u " + Bin("sample_server.so"), &out), 0) << out;
  EXPECT_EQ(out, "DllUnregisterServer in " + Bin("sample_server.so") + ": 0x00000000\n");
  EXPECT_EQ(ReadFile(registry_), before_);
  EXPECT_EQ(LoadRegTypeLib(kLibId, 1, 2, 0, lib.ReleaseAndGetAddressOf()), TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(com::CreateInstance(kCounterClsid, &counter), REGDB_E_CLASSNOTREG);
  EXPECT_NE(Regsvr("-u " + Bin("sample_server.so"), &out), 0);
  EXPECT_EQ(out, "DllUnregisterServer in " + Bin("sample_server.so") + ": 0x80040200\n");
}

TEST_F(Server, ClassesTheModuleDoesNotServeAndModulesThatCannotLoad) {
  const std::string other = "CLSID\\{5A3C1D29-7E41-4B8A-9C65-0D2F4E6A8B10}\\InprocServer32";
  const std::string missing = "CLSID\\{5A3C1D2A-7E41-4B8A-9C65-0D2F4E6A8B10}\\InprocServer32";
  ASSERT_EQ(reg::Edit()
                .SetString(reg::Root::ClassesRoot, other, "", ModulePath())
                .SetString(reg::Root::ClassesRoot, missing, "", (dir_ / "none.so").string())
                .Commit(),
            S_OK);
  com::ComPtr<IDispatch> object;
  EXPECT_EQ(com::CreateInstance(com::Guid("{5A3C1D29-7E41-4B8A-9C65-0D2F4E6A8B10}"), &object),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(com::CreateInstance(com::Guid("{5A3C1D2A-7E41-4B8A-9C65-0D2F4E6A8B10}"), &object),
            CO_E_DLLNOTFOUND);
  CoFreeUnusedLibraries();
  EXPECT_FALSE(ModuleLoaded());
}

// As a package installs it: registered system-wide, beneath a developer's
// own registration of a build that is later deleted.
TEST_F(Server, SystemRegistrationServesWhenTheUsersModuleIsGone) {
  std::string out;
  ASSERT_EQ(Regsvr("--system " + Bin("sample_server.so"), &out), 0) << out;
  EXPECT_EQ(ReadFile(registry_), before_);
  struct stat st;
  ASSERT_EQ(stat(system_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);  // every user reads it
  ASSERT_EQ(stat((temp_ / "etc/mailquarry").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  const std::string system_text = ReadFile(system_);

  const fs::path build = dir_ / "build";
  fs::create_directories(build);
  fs::copy_file(ModulePath(), build / "sample_server.so");
  ASSERT_EQ(Regsvr((build / "sample_server.so").string(), &out), 0) << out;
  const std::string server_key = "CLSID\\" + com::GuidToString(kCounterClsid) + "\\InprocServer32";
  std::string text;
  ASSERT_EQ(reg::GetString(reg::Root::ClassesRoot, server_key, "", &text), S_OK);
  EXPECT_EQ(text, (build / "sample_server.so").string());
  EXPECT_EQ(ReadFile(system_), system_text);
  // While the user's build is there, it serves.
  com::ComPtr<IDispatch> counter;
  ASSERT_EQ(com::CreateInstance(kCounterClsid, &counter), S_OK);
  EXPECT_TRUE(ModuleLoaded(build / "sample_server.so"));
  counter.Reset();
  CoFreeUnusedLibraries();

  fs::remove_all(build);
  ASSERT_EQ(com::CreateInstance(kCounterClsid, &counter), S_OK);
  EXPECT_TRUE(ModuleLoaded());
  com::ComPtr<ITypeLib> lib;
  EXPECT_EQ(LoadRegTypeLib(kLibId, 1, 2, 0, lib.ReleaseAndGetAddressOf()), S_OK);
  lib.Reset();
  counter.Reset();
  CoFreeUnusedLibraries();

  ASSERT_EQ(Regsvr("-u --system " + Bin("sample_server.so"), &out), 0) << out;
  EXPECT_EQ(ReadFile(system_), "mailquarry-registry 1\n");

  // A damaged system file is reported and left as it is.
  const std::string damaged = "mailquarry-registry 1\n[HKEY_CLASSES_ROOT\n";
  mqtest::WriteFile(system_, damaged);
  EXPECT_EQ(Regsvr("--system " + Bin("sample_server.so"), &out), 1);
  EXPECT_EQ(ReadFile(system_), damaged);
  EXPECT_EQ(com::CreateInstance(kCounterClsid, &counter), REGDB_E_READREGDB);
  EXPECT_EQ(Regsvr("--system --system " + Bin("sample_server.so"), &out), 2);
}

TEST_F(Server, RegistrationFailsCleanlyWhenTheRegistryCannotBeWritten) {
  std::string out;
  std::string command =
      "MAILQUARRY_REGISTRY=/dev/null/registry " + Bin("regsvr") + " " + Bin("sample_server.so");
  EXPECT_EQ(mqtest::RunCommand(command, &out), 1);
  EXPECT_EQ(out, "DllRegisterServer in " + Bin("sample_server.so") + ": 0x80040200\n");
  EXPECT_NE(Regsvr((dir_ / "none.so").string(), &out), 0);
}

}  // namespace
