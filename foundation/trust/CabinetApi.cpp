#include "foundation/trust/CabinetApi.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <shlwapi.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "foundation/basalt/ProcAddress.h"
#include "foundation/basalt/SystemLibrary.h"

CabinetApi::CabinetApi() : module_(LoadSystemLibrary(L"Cabinet.dll")) {
    create_ = Basalt::GetProcAddressAs<CreateFn>(module_.Get(), "FDICreate");
    copy_ = Basalt::GetProcAddressAs<CopyFn>(module_.Get(), "FDICopy");
    destroy_ = Basalt::GetProcAddressAs<DestroyFn>(module_.Get(), "FDIDestroy");
}

namespace {

struct ExtractionContext {
    bool closedWell = false;
    bool several = false;  // more than one trust-list entry: the cabinet is refused
    char path[MAX_PATH] = {};
};

FNALLOC(Allocate) { return std::malloc(cb); }
FNFREE(Free) { std::free(pv); }
FNOPEN(Open) { return _sopen(pszFile, oflag, _SH_DENYNO, pmode); }
FNREAD(Read) { return static_cast<UINT>(_read(static_cast<int>(hf), pv, cb)); }
FNWRITE(Write) { return static_cast<UINT>(_write(static_cast<int>(hf), pv, cb)); }
FNCLOSE(Close) { return _close(static_cast<int>(hf)); }
FNSEEK(Seek) { return _lseek(static_cast<int>(hf), dist, seektype); }

bool IsTrustListName(const char* name) {
    constexpr char kName[] = "trusted.js";
    if (!name || std::strlen(name) != sizeof(kName) - 1) return false;
    for (size_t i = 0; kName[i]; ++i) {
        char c = name[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kName[i]) return false;
    }
    return true;
}

INT_PTR OpenExtractedFile(ExtractionContext& context) {
    char folder[MAX_PATH] = {};
    const DWORD length = GetTempPathA(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH) return -1;
    char unique[MAX_PATH] = {};
    if (!GetTempFileNameA(folder, "trustedjs", 0, unique)) return -1;
    // Only the ".js" name is used: the empty file made for the unique name is not needed.
    DeleteFileA(unique);
    PathRemoveExtensionA(unique);
    if (!PathAddExtensionA(unique, ".js")) return -1;
    std::strcpy(context.path, unique);
    // Truncate: a file of that name may be left from an earlier run.
    return _sopen(context.path, _O_BINARY | _O_CREAT | _O_WRONLY | _O_TRUNC, _SH_DENYNO, _S_IREAD | _S_IWRITE);
}

FNFDINOTIFY(Notify) {
    auto& context = *static_cast<ExtractionContext*>(pfdin->pv);
    switch (fdint) {
        case fdintCOPY_FILE:
            if (!IsTrustListName(pfdin->psz1)) return 0;
            if (context.path[0]) {
                // Which of two lists would count is not for the cabinet to decide: stop here.
                context.several = true;
                return -1;
            }
            return OpenExtractedFile(context);
        case fdintCLOSE_FILE_INFO: {
            context.closedWell = _close(static_cast<int>(pfdin->hf)) == 0;
            // Hidden, system and archive are kept; read-only never, so that the copy can be deleted.
            SetFileAttributesA(context.path, pfdin->attribs & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                                                FILE_ATTRIBUTE_ARCHIVE));
            return TRUE;
        }
        default:
            return 0;
    }
}

}  // namespace

bool ExtractTrustListFromCabinet(const CabinetApi& cabinet, TrustList& installed, const wchar_t* cabinetPath) {
    if (!cabinet.IsUsable() || !cabinetPath) return false;
    char path[MAX_PATH] = {};
    if (!WideCharToMultiByte(CP_THREAD_ACP, 0, cabinetPath, -1, path, MAX_PATH, nullptr, nullptr)) return false;
    char name[MAX_PATH] = {};
    char folder[MAX_PATH] = {};
    lstrcpynA(name, PathFindFileNameA(path), MAX_PATH);
    lstrcpynA(folder, path, MAX_PATH);
    PathRemoveFileSpecA(folder);
    if (std::strlen(folder) + 2 > MAX_PATH) return false;
    std::strcat(folder, "\\");

    ERF error = {};
    HFDI fdi = cabinet.Create()(Allocate, Free, Open, Read, Write, Close, Seek, cpuUNKNOWN, &error);
    if (!fdi) return false;
    ExtractionContext context;
    cabinet.Copy()(fdi, name, folder, 0, Notify, nullptr, &context);
    cabinet.Destroy()(fdi);
    if (!context.path[0]) return false;

    bool result = false;
    if (context.closedWell && !context.several && PathFileExistsA(context.path)) {
        wchar_t wide[MAX_PATH] = {};
        if (MultiByteToWideChar(CP_THREAD_ACP, 0, context.path, -1, wide, MAX_PATH))
            result = InstallTrustListFromFile(installed, wide);
    }
    DeleteFileA(context.path);
    return result;
}

bool ExtractTrustListFromCabinet(const CabinetApi& cabinet, const wchar_t* cabinetPath) {
    return ExtractTrustListFromCabinet(cabinet, TrustList::Installed(), cabinetPath);
}
