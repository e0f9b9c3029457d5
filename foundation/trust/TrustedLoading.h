#pragma once
// Loading code only after its signature has been judged: a library by path, a COM object whose class factory lives
// in a checked module, and an interface from one of the suite's signed sibling libraries. (System libraries from
// the System folder and the safe default search: foundation/basalt/SystemLibrary.h.)
#include <windows.h>
#include <unknwn.h>
#include <softpub.h>
#include <wintrust.h>

#include <string>

#include "foundation/trust/ComServerJudgement.h"

// The two class-factory interfaces of the suite's COM servers, asked in this order. After IUnknown they have one
// method: Create(interface id, out pointer) -> HRESULT.
inline constexpr GUID kTrustedFactoryIid = {0xfd542581, 0x722e, 0x45be, {0xbe, 0xd4, 0x62, 0xa1, 0xbe, 0x46, 0xaf, 0x03}};
inline constexpr GUID kTrustedFactoryIid2 = {0x6058502e, 0x6069, 0x43f4, {0xb7, 0x33, 0x12, 0x86, 0x49, 0xa2, 0x0b, 0xd5}};
struct ITrustedClassFactory : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Create(REFIID iid, void** out) = 0;
};
// IRemUnknown: COM marshals it along with every interface it hands to another apartment.
inline constexpr GUID kRemUnknownIid = {0x00000131, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Only an exact module path is loaded (foundation/trust/ModulePath.h: absolute, its file name with an extension;
// any other gives ERROR_BAD_PATHNAME): the file judged must be the file loaded. VerifyModuleTrust(path) first; on a
// non-zero code that code becomes the last error and no module is loaded.
HMODULE TrustedLoadLibraryEx(const wchar_t* path, DWORD flags);

// checkModule 0: exactly CoCreateInstance. Otherwise every module COM may load for the class must pass
// ComServerJudgement::JudgeRegistration, and the proxy/stub of each interface asked for (the two factory interfaces
// and `iid`) and of IRemUnknown JudgeProxyStub, before COM is asked for the class object, so a refused module is
// never loaded; then through the factory interfaces, and only when the module that implements the factory passes
// as well (JudgeFactory: the server judged for the registration, or VerifyModuleTrust). A refusal gives
// E_ACCESSDENIED; the outer object is not used on this path.
HRESULT TrustedCoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** out,
                                BOOL checkModule);
// The same, keeping the judgement for the caller: a caller that falls back on plain creation judges the proxy/stub of
// IClassFactory and the object it gets with it.
HRESULT TrustedCoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** out,
                                BOOL checkModule, ComServerJudgement& judgement);
// The same creation through the factory interfaces, without the module check.
HRESULT CoCreateInstanceViaFactory(REFCLSID clsid, IUnknown* ignored, DWORD context, REFIID iid, void** out);

// The file of the loaded module that contains the address, as the loader knows it (out: MAX_PATH characters). 0, 87,
// or 5 (no module, or a name that does not fit).
DWORD GetModulePathFromAddress(const void* address, wchar_t* out);
// VerifyModuleTrust of the module that contains the address; 87 when there is none.
DWORD VerifyModuleOfAddress(const void* address);

// HKLM "Software\Torvex\Dunmore" "szInstallDir32" (flag set) or "szInstallDir64", with "\" and the name appended
// when room is left. True when the folder was read.
bool GetDunmoreInstallDir(bool wow32, const wchar_t* append, wchar_t* buffer, DWORD capacity);

// One WinVerifyTrust judgement of a file, made once and cached; the verification state is released when the
// record goes away.
class FileTrustVerification {
public:
    explicit FileTrustVerification(std::wstring path);
    ~FileTrustVerification();
    FileTrustVerification(const FileTrustVerification&) = delete;
    FileTrustVerification& operator=(const FileTrustVerification&) = delete;

    LONG Verify();

private:
    std::wstring path_;
    bool done_ = false;
    LONG result_ = 0;
    WINTRUST_FILE_INFO file_ = {};
    WINTRUST_DATA data_ = {};
};

// The WinVerifyTrust result of the record, computed once.
LONG VerifyFileTrust(FileTrustVerification& record);

// One load of a signed sibling library by name.
struct SiblingLoad {
    std::wstring name;                // in
    HMODULE fallbackModule = nullptr; // in: its folder is searched when the install folder lacks the library
    std::wstring path;                // the path that was judged last
    HMODULE module = nullptr;         // out
};

// Finds the library in the validation service's install folder, then next to the fallback module (also when the
// install folder cannot be read; never in the current directory), judges it with WinVerifyTrust and loads it when
// the result allows. A path that is no exact module path is neither judged nor loaded (ERROR_BAD_PATHNAME). 0, 87,
// 8 or the WinVerifyTrust result.
DWORD LoadSignedSiblingDll(SiblingLoad& load);

// Loads the signed sibling library, asks its "NotComDllGetInterface" export for the named interface and frees the
// library again (the library keeps itself loaded while its interface lives).
DWORD GetInterfaceFromSignedDll(const wchar_t* library, const char* interfaceName, void** out, HMODULE fallback);
