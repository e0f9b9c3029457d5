#pragma once
// The cabinet decompression functions, bound from the system's Cabinet.dll for as long as the object lives, and the
// extraction of a trust list from a signed cabinet.
#include <windows.h>
#include <fdi.h>

#include "foundation/basalt/OwnedHandle.h"
#include "foundation/trust/TrustList.h"

class CabinetApi {
public:
    CabinetApi();
    CabinetApi(const CabinetApi&) = delete;
    CabinetApi& operator=(const CabinetApi&) = delete;

    // True when all three functions were found.
    bool IsUsable() const { return create_ && copy_ && destroy_; }

    using CreateFn = HFDI(DIAMONDAPI*)(PFNALLOC, PFNFREE, PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE, PFNSEEK, int, PERF);
    using CopyFn = BOOL(DIAMONDAPI*)(HFDI, char*, char*, int, PFNFDINOTIFY, PFNFDIDECRYPT, void*);
    using DestroyFn = BOOL(DIAMONDAPI*)(HFDI);
    CreateFn Create() const { return create_; }
    CopyFn Copy() const { return copy_; }
    DestroyFn Destroy() const { return destroy_; }

private:
    Basalt::LoadedModule module_;
    CreateFn create_ = nullptr;
    CopyFn copy_ = nullptr;
    DestroyFn destroy_ = nullptr;
};

// Extracts the cabinet's "trusted.js" (any case) to a temporary file and installs it into `installed` when it is
// newer; the extracted copy is deleted in every case. A cabinet with more than one such entry is refused. True when
// a list was installed.
bool ExtractTrustListFromCabinet(const CabinetApi& cabinet, TrustList& installed, const wchar_t* cabinetPath);
bool ExtractTrustListFromCabinet(const CabinetApi& cabinet, const wchar_t* cabinetPath);
