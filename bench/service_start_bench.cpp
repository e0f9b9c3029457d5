// welkin's closing service start, the code of its last step as it runs in welkin, in two situations:
//  - the service host enabled, with the signed service-manager double in its folder and the validation-service
//    double installed as the tests lay it out: the first call in a process (what welkin pays, its first signature
//    check included) and later calls; beside it the floor of loading that library, asking it and freeing it with
//    no check, and the check alone;
//  - the service host not enabled, with five configured services already running in this prefix: the walk that
//    finds each of them running; beside it the floor of opening the manager and asking each service's status.
// Wine's manager cannot answer the delayed-start query, so the walk runs with that one query answered as Windows
// answers it for a service without delayed start; every other call is real.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "bench/BenchHarness.h"
#include "foundation/trust/ModuleTrust.h"
#include "tests/foundation/trust/TrustTestFiles.h"
#include "tests/foundation/trust/ValidationDouble.h"
#include "tests/support/ScratchRegistry.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestService.h"
#include "tests/support/WinePaths.h"
#include "tests/welkin/WindowsLikeScm.h"
#include "welkin/QzStartServices.h"
#include "welkin/ServiceManagerApi.h"

namespace {

using testsupport::RegView;

constexpr wchar_t kHostKey[] = L"SOFTWARE\\Torvex\\RVXAHOST";
constexpr wchar_t kSvcHostGroup[] = L"SOFTWARE\\Torvex\\Platform\\QzSvcHost\\Oobe";

void ServiceManagerRoute() {
    trusttest::ValidationDouble validation;
    validation.Install(L"15.5", trusttest::SignedFolder(L"good"));
    validation.SetMode(trusttest::ValidationDouble::kVouchSigned);
    testsupport::TempFolder folder;
    const std::wstring library = folder.File(L"RVXAAPI.DLL");
    CopyFileW(trusttest::SignedFile(L"good", L"RVXAAPI").c_str(), library.c_str(), FALSE);
    testsupport::ScratchRegistry registry;
    registry.SetDword(HKEY_LOCAL_MACHINE, kHostKey, L"Enable", 1, RegView::Wow64);
    registry.SetString(HKEY_LOCAL_MACHINE, kHostKey, L"szInstallDir64", folder.Path(), RegView::Wow64);

    const double start = bench::NowNs();
    CQzStartServices().StartAllOobeServices();
    bench::ReportValue("service host enabled: first start in the process", (bench::NowNs() - start) / 1e6, "ms");
    bench::Report("service host enabled: later starts",
                  bench::Measure([](std::uint64_t n) {
                      for (std::uint64_t i = 0; i < n; ++i) CQzStartServices().StartAllOobeServices();
                  }, 1, 21, 2));
    bench::Report("floor: load the library, ask it, release, free (no check)",
                  bench::Measure([&library](std::uint64_t n) {
                      for (std::uint64_t i = 0; i < n; ++i) {
                          const HMODULE module = LoadLibraryExW(library.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
                          const auto create = reinterpret_cast<QzDllGetClassObjectFn>(
                              reinterpret_cast<void*>(GetProcAddress(module, kQzDllGetClassObjectExport)));
                          void* object = nullptr;
                          if (create && create(kServiceManagerInterface, &object) == 0 && object) {
                              static_cast<IServiceManager*>(object)->StartServicesByHost(L"KESTRO", 5000);
                              static_cast<IServiceManager*>(object)->Release();
                          }
                          FreeLibrary(module);
                      }
                  }, 1, 21, 2));
    bench::Report("the trust check of the library alone",
                  bench::Measure([&library](std::uint64_t n) {
                      for (std::uint64_t i = 0; i < n; ++i) VerifyModuleTrust(library.c_str());
                  }, 1, 21, 2));
    testsupport::ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, kHostKey, RegView::Wow64);
}

void WindowsServicesRoute() {
    const std::wstring program = L"\"" + testsupport::WindowsPathOf(SERVICE_DOUBLE_EXE) + L"\" good";
    std::vector<std::unique_ptr<testsupport::TestService>> services;
    std::wstring list;
    for (int i = 1; i <= 5; ++i) {
        const std::wstring name = L"WelkinBench" + std::to_wstring(i);
        services.push_back(std::make_unique<testsupport::TestService>(name, program, SERVICE_AUTO_START));
        if (!services.back()->StartAndWaitRunning()) bench::ReportValue("service did not start", i, "");
        list += name + L";";
    }
    testsupport::ScratchRegistry registry;
    registry.SetString(HKEY_LOCAL_MACHINE, kSvcHostGroup, nullptr, list);

    const auto scm = std::make_shared<scmtest::WindowsLikeDelayQuery>();
    bench::Report("service host not enabled: five services already running",
                  bench::Measure([&scm](std::uint64_t n) {
                      for (std::uint64_t i = 0; i < n; ++i) CQzStartServices(scm).StartAllOobeServices();
                  }, 1, 21, 2));
    bench::Report("floor: open the manager, each service's status",
                  bench::Measure([&services](std::uint64_t n) {
                      for (std::uint64_t i = 0; i < n; ++i) {
                          const SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
                          for (const auto& service : services) {
                              const SC_HANDLE handle =
                                  OpenServiceW(manager, service->Name().c_str(), SERVICE_QUERY_STATUS);
                              SERVICE_STATUS_PROCESS status = {};
                              DWORD needed = 0;
                              QueryServiceStatusEx(handle, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                                   sizeof status, &needed);
                              CloseServiceHandle(handle);
                          }
                          CloseServiceHandle(manager);
                      }
                  }, 1, 21, 2));
    testsupport::ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Torvex");
}

}  // namespace

int main() {
    ServiceManagerRoute();
    WindowsServicesRoute();
    return 0;
}
