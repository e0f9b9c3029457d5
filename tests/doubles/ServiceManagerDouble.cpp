// Stand-in for the suite's service-manager library RVXAAPI.DLL, with the object layout of welkin/ServiceManagerApi.h.
// Each call appends one UTF-8 line to the file named by WELKIN_RVXAAPI_JOURNAL (nothing when unset):
//   QzDllGetClassObject <interface name>
//   StartServicesByHost <host group> <time-out>
//   Release
// WELKIN_RVXAAPI_MODE picks the answer of QzDllGetClassObject: unset hands out an object for "IServiceManager"
// (1168 for any other name), "no-object" answers 0 without an object, "refuse" answers 1168.
// StartServicesByHost returns the number in WELKIN_RVXAAPI_RESULT (0 when unset).
#include <windows.h>

#include <cwchar>
#include <string>

#include "tests/doubles/JournalFile.h"
#include "welkin/ServiceManagerApi.h"

namespace {

std::wstring Setting(const wchar_t* name) {
    wchar_t text[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(name, text, MAX_PATH);
    return length && length < MAX_PATH ? std::wstring(text, length) : std::wstring();
}

void Journal(const std::string& line) {
    doubles::AppendToRoadJournal("manager", line + "\n");
    const std::wstring path = Setting(L"WELKIN_RVXAAPI_JOURNAL");
    if (!path.empty()) doubles::AppendToJournal(path.c_str(), line + "\n");
}

class ServiceManager final : public IServiceManager {
public:
    DWORD STDMETHODCALLTYPE StartServicesByHost(const wchar_t* hostGroup, DWORD timeoutMs) override {
        std::string line = "StartServicesByHost ";
        line += hostGroup ? doubles::Utf8(hostGroup) : "(null)";
        line += ' ';
        line += std::to_string(timeoutMs);
        Journal(line);
        return static_cast<DWORD>(wcstoul(Setting(L"WELKIN_RVXAAPI_RESULT").c_str(), nullptr, 10));
    }
    void STDMETHODCALLTYPE Release() override {
        Journal("Release");
        delete this;
    }
};

}  // namespace

extern "C" __declspec(dllexport) DWORD WINAPI QzDllGetClassObject(const wchar_t* interfaceName, void** object) {
    Journal(std::string("QzDllGetClassObject ") + (interfaceName ? doubles::Utf8(interfaceName) : "(null)"));
    if (!object) return ERROR_INVALID_PARAMETER;
    *object = nullptr;
    const std::wstring mode = Setting(L"WELKIN_RVXAAPI_MODE");
    if (mode == L"no-object") return ERROR_SUCCESS;
    if (mode == L"refuse" || !interfaceName || std::wcscmp(interfaceName, kServiceManagerInterface) != 0)
        return ERROR_NOT_FOUND;
    *object = static_cast<IServiceManager*>(new ServiceManager);
    return ERROR_SUCCESS;
}
