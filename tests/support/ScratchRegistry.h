#pragma once
// Registry keys that a test creates and that are wiped again when the object goes away, in either registry view.
// Each test program runs in its own Wine prefix, so the wipe only keeps the tests of one program apart.
#include <windows.h>

#include <string>
#include <vector>

namespace testsupport {

enum class RegView : REGSAM { Default = 0, Wow32 = KEY_WOW64_32KEY, Wow64 = KEY_WOW64_64KEY };

class ScratchRegistry {
public:
    ScratchRegistry() = default;
    ScratchRegistry(const ScratchRegistry&) = delete;
    ScratchRegistry& operator=(const ScratchRegistry&) = delete;
    ~ScratchRegistry();

    // Creates the key (and its parents) and remembers it for the wipe. Fails the test when that is impossible.
    void Create(HKEY root, const std::wstring& path, RegView view = RegView::Default);
    // Deletes a key tree now, whether or not this object created it; absent keys are fine.
    static void Wipe(HKEY root, const std::wstring& path, RegView view = RegView::Default);

    void SetDword(HKEY root, const std::wstring& path, const wchar_t* name, DWORD value,
                  RegView view = RegView::Default);
    void SetString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value,
                   RegView view = RegView::Default, DWORD type = REG_SZ);
    void SetBinary(HKEY root, const std::wstring& path, const wchar_t* name, const std::vector<BYTE>& data,
                   RegView view = RegView::Default, DWORD type = REG_BINARY);

    // Raw reads for assertions: false when the value is absent.
    static bool Read(HKEY root, const std::wstring& path, const wchar_t* name, DWORD& type, std::vector<BYTE>& data,
                     RegView view = RegView::Default);
    static bool KeyExists(HKEY root, const std::wstring& path, RegView view = RegView::Default);

private:
    void SetRaw(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, const void* data, DWORD size,
                RegView view);

    struct Entry {
        HKEY root;
        std::wstring path;
        RegView view;
    };
    std::vector<Entry> created_;
};

}  // namespace testsupport
