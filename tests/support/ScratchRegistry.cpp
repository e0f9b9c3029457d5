#include "tests/support/ScratchRegistry.h"

#include <gtest/gtest.h>

#include "foundation/basalt/OwnedHandle.h"

namespace testsupport {

namespace {

REGSAM Access(REGSAM rights, RegView view) { return rights | static_cast<REGSAM>(view); }

}  // namespace

ScratchRegistry::~ScratchRegistry() {
    for (auto it = created_.rbegin(); it != created_.rend(); ++it) Wipe(it->root, it->path, it->view);
}

void ScratchRegistry::Create(HKEY root, const std::wstring& path, RegView view) {
    Basalt::RegistryKey key;
    LONG rc = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, Access(KEY_ALL_ACCESS, view), nullptr, key.Receive(),
                              nullptr);
    ASSERT_EQ(ERROR_SUCCESS, rc) << "creating " << std::string(path.begin(), path.end());
    created_.push_back({root, path, view});
}

void ScratchRegistry::Wipe(HKEY root, const std::wstring& path, RegView view) {
    {
        Basalt::RegistryKey key;
        if (RegOpenKeyExW(root, path.c_str(), 0, Access(KEY_ALL_ACCESS, view), key.Receive()) != ERROR_SUCCESS) return;
        RegDeleteTreeW(key.Get(), nullptr);  // subkeys and values, in the view the key was opened in
    }
    RegDeleteKeyExW(root, path.c_str(), static_cast<REGSAM>(view), 0);
}

void ScratchRegistry::SetRaw(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, const void* data,
                             DWORD size, RegView view) {
    Create(root, path, view);
    Basalt::RegistryKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(root, path.c_str(), 0, Access(KEY_SET_VALUE, view), key.Receive()));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.Get(), name, 0, type, static_cast<const BYTE*>(data), size));
}

void ScratchRegistry::SetDword(HKEY root, const std::wstring& path, const wchar_t* name, DWORD value, RegView view) {
    SetRaw(root, path, name, REG_DWORD, &value, sizeof value, view);
}

void ScratchRegistry::SetString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value,
                                RegView view, DWORD type) {
    SetRaw(root, path, name, type, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)), view);
}

void ScratchRegistry::SetBinary(HKEY root, const std::wstring& path, const wchar_t* name,
                                const std::vector<BYTE>& data, RegView view, DWORD type) {
    SetRaw(root, path, name, type, data.data(), static_cast<DWORD>(data.size()), view);
}

bool ScratchRegistry::Read(HKEY root, const std::wstring& path, const wchar_t* name, DWORD& type,
                           std::vector<BYTE>& data, RegView view) {
    Basalt::RegistryKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, Access(KEY_QUERY_VALUE, view), key.Receive()) != ERROR_SUCCESS) return false;
    DWORD size = 0;
    if (RegQueryValueExW(key.Get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    data.assign(size, 0);
    if (RegQueryValueExW(key.Get(), name, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) return false;
    data.resize(size);
    return true;
}

bool ScratchRegistry::KeyExists(HKEY root, const std::wstring& path, RegView view) {
    Basalt::RegistryKey key;
    return RegOpenKeyExW(root, path.c_str(), 0, Access(KEY_QUERY_VALUE, view), key.Receive()) == ERROR_SUCCESS;
}

}  // namespace testsupport
