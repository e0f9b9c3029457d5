#include "welkin/ScmAPI.h"

namespace ServiceHelper {

SC_HANDLE ScmAPI::OpenSCManagerW(const wchar_t* machine, const wchar_t* database, DWORD access) {
    return ::OpenSCManagerW(machine, database, access);
}

SC_HANDLE ScmAPI::OpenServiceW(SC_HANDLE manager, const wchar_t* name, DWORD access) {
    return ::OpenServiceW(manager, name, access);
}

BOOL ScmAPI::CloseServiceHandle(SC_HANDLE handle) { return ::CloseServiceHandle(handle); }

BOOL ScmAPI::QueryServiceConfigW(SC_HANDLE service, QUERY_SERVICE_CONFIGW* config, DWORD size, DWORD* needed) {
    return ::QueryServiceConfigW(service, config, size, needed);
}

BOOL ScmAPI::QueryServiceConfig2W(SC_HANDLE service, DWORD level, BYTE* buffer, DWORD size, DWORD* needed) {
    return ::QueryServiceConfig2W(service, level, buffer, size, needed);
}

BOOL ScmAPI::QueryServiceStatusEx(SC_HANDLE service, SC_STATUS_TYPE level, BYTE* buffer, DWORD size,
                                  DWORD* needed) {
    return ::QueryServiceStatusEx(service, level, buffer, size, needed);
}

BOOL ScmAPI::StartServiceW(SC_HANDLE service, DWORD count, const wchar_t** arguments) {
    return ::StartServiceW(service, count, arguments);
}

DWORD ScmAPI::GetTickCount() { return ::GetTickCount(); }

void ScmAPI::Sleep(DWORD milliseconds) { ::Sleep(milliseconds); }

HANDLE ScmAPI::OpenProcess(DWORD access, BOOL inherit, DWORD processId) {
    return ::OpenProcess(access, inherit, processId);
}

DWORD ScmAPI::WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL all, DWORD milliseconds) {
    return ::WaitForMultipleObjects(count, handles, all, milliseconds);
}

BOOL ScmAPI::CloseHandle(HANDLE handle) { return ::CloseHandle(handle); }

}  // namespace ServiceHelper
