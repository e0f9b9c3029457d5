// Cost of the module trust check on a signed library of about 1 MiB: through the validation service, and through
// the signature route (every signer rule, chain and Authenticode judgement). Target: the checks of one whole welkin
// run (four modules) add at most 200 ms. Needs the test platform's prefix (signed doubles, test root, policy).
#include <windows.h>
#include <wincrypt.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchHarness.h"
#include "foundation/trust/ModuleTrust.h"

namespace {

std::wstring WindowsPath(const char* linux) {
    std::wstring path = L"Z:";
    for (const char* p = linux; *p; ++p) path += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
    return path;
}

class AcceptedListSignature final : public TrustListSignature {
public:
    bool IsSignedBySuite(const std::wstring&) const override { return true; }
};

class Refusing final : public FileValidator {
public:
    DWORD validateFile(const wchar_t*) override { return ERROR_ACCESS_DENIED; }
};

std::string TestRootHex() {
    std::ifstream in(WindowsPath(WELKIN_PKI_DIR "/root.der").c_str(), std::ios::binary);
    const std::vector<BYTE> der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    BYTE hash[20] = {};
    DWORD size = sizeof(hash);
    CryptHashCertificate(0, CALG_SHA1, 0, der.data(), static_cast<DWORD>(der.size()), hash, &size);
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (BYTE b : hash) {
        hex.push_back(digits[b >> 4]);
        hex.push_back(digits[b & 15]);
    }
    return hex;
}

double NowMs() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) * 1e3 / static_cast<double>(frequency.QuadPart);
}

void SetHklm(const wchar_t* key, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, name, type, data, size);
}

}  // namespace

int main() {
    const std::wstring signedDll = WindowsPath(WELKIN_SIGNED_DIR "/good/trust_payload.dll");
    const std::wstring goodFolder = WindowsPath(WELKIN_SIGNED_DIR "/good");

    // The system-core component and the validation double that vouches for every file (the double reads these).
    const wchar_t version[] = L"15.5";
    SetHklm(L"Software\\Torvex\\Dunmore", L"dunmore_version", REG_SZ, version, sizeof(version));
    SetHklm(L"Software\\Torvex\\Dunmore", L"szInstallDir64", REG_SZ, goodFolder.c_str(),
            static_cast<DWORD>((goodFolder.size() + 1) * sizeof(wchar_t)));
    const DWORD vouchAll = 1, refuse = 0;
    SetHklm(L"Software\\WelkinTests\\ValidationDouble", L"Mode", REG_DWORD, &vouchAll, sizeof(vouchAll));

    // An installed list of version 8 that accepts the test root.
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring listPath = std::wstring(temp) + L"bench_trusted.js";
    {
        std::ofstream list(listPath.c_str(), std::ios::binary | std::ios::trunc);
        list << "[VER]\r\n8\r\n[ORG]\r\nTorvex, Inc.\r\n[SHA]\r\n" << TestRootHex() << "\r\n";
    }
    TrustList installed(listPath, std::make_shared<AcceptedListSignature>());
    Refusing refusing;
    const Thumbprint root = [&] {
        installed.Load();
        return installed.WithValues([](const TrustListValues& v) { return v.thumbprints[0]; });
    }();
    const wchar_t* const names[] = {L"Torvex, Inc.", nullptr};

    // Once per process: judges and loads jxvvtpa.dll (and pays the first use of the crypto libraries).
    const double start = NowMs();
    ValidationServiceClient::instance();
    bench::ReportValue("validation client creation (first check of a process)", NowMs() - start, "ms");

    bool ok = true;
    const auto route = [&](const char* name, auto check) {
        const bench::Figures figures = bench::Measure(
            [&](std::uint64_t n) {
                for (std::uint64_t i = 0; i < n; ++i) ok = check() && ok;
            },
            1, 15, 2);
        bench::Report(name, figures);
        return figures;
    };

    const bench::Figures service = route("VerifyModuleTrust, vouched by the validation service",
                                         [&] { return VerifyModuleTrust(signedDll.c_str()) == 0; });
    route("VerifyEmbeddedSignature, all rules pass", [&] {
        return VerifyEmbeddedSignature(signedDll.c_str(), names, &root, 1, nullptr);
    });
    const bench::Figures signature = route("CheckFileTrust, signature route (installed list passes)", [&] {
        return CheckFileTrust(refusing, installed, signedDll.c_str()) == 0;
    });
    SetHklm(L"Software\\WelkinTests\\ValidationDouble", L"Mode", REG_DWORD, &refuse, sizeof(refuse));
    route("VerifyModuleTrust, service refuses, built-in list refuses", [&] {
        return VerifyModuleTrust(signedDll.c_str()) == ERROR_ACCESS_DENIED;
    });

    bench::ReportValue("four modules, signature route", 4 * signature.medianNs / 1e6, "ms (target <= 200)");
    bench::ReportValue("four modules, validation service", 4 * service.medianNs / 1e6, "ms (target <= 200)");
    DeleteFileW(listPath.c_str());
    if (!ok) std::printf("a check gave an unexpected answer: the figures are not valid\n");
    return ok ? 0 : 1;
}
