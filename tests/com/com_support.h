// Helpers of the COM tests: registering in-process servers as the platform
// keeps them, and apartments left on every path.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include <objbase.h>
#include <standin/root.h>

#include "common/fresh_root.h"
#include "owners/ScopedOwner.h"

namespace comtest {

// One apartment entry of the calling thread, left with the holder.
class Apartment {
 public:
  explicit Apartment(DWORD model = COINIT_APARTMENTTHREADED) : hr_(CoInitializeEx(nullptr, model)) {}
  ~Apartment() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;
  HRESULT hr() const { return hr_; }

 private:
  HRESULT hr_;
};

// "Z:\...\lib<name>.so", a module built beside the tests.
inline std::u16string BuiltModule(const std::string& name) {
  return standin::ToWindowsPath(testing_support::BinDir() + "/lib" + name + ".so");
}

inline std::u16string ClassKeyPath(REFCLSID clsid) {
  WCHAR text[39] = {};
  StringFromGUID2(clsid, text, 39);
  return std::u16string(u"SOFTWARE\\Classes\\CLSID\\") + text;
}

// Registers module as the class's in-process server under
// HKEY_LOCAL_MACHINE\SOFTWARE\Classes, as an installer does.
inline void RegisterServer(REFCLSID clsid, const std::u16string& module, DWORD type = REG_SZ) {
  CScopedRegKey key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, (ClassKeyPath(clsid) + u"\\InprocServer32").c_str(), 0,
                                           nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.Put(), nullptr));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.Get(), nullptr, 0, type, reinterpret_cast<const BYTE*>(module.c_str()),
                                          static_cast<DWORD>((module.size() + 1) * sizeof(WCHAR))));
}

}  // namespace comtest
