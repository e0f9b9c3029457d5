#pragma once
// What COM may run in this process for a class, judged before COM is asked for it, and the module behind an object
// that COM made without that judgement's factory check.
//
// JudgeRegistration reads the registration as COM does: the class and every class it is treated as ("TreatAs",
// followed for at most kMaxTreatAsHops; a longer chain, and so every loop, or an unreadable entry is refused). For
// each class the in-process server (when the context allows one) and the in-process handler (likewise) must pass.
//
// JudgeProxyStub judges what COM loads to marshal the interface between apartments: the proxy/stub class COM names
// for it (CoGetPSClsid), read as a server (TreatAs followed, its in-process server judged). An interface without a
// proxy/stub class, or a thread outside any apartment, has nothing to judge; any other failure to name one is
// refused. Where a class of that chain is the platform's type-library marshaler, which brings in each interface the
// marshalled one derives from, each through its own proxy/stub, the interface it derives from is read as the
// marshaler reads it (foundation/trust/MarshalerTypeLibrary.h) and judged the same way, down to IUnknown, and
// IDispatch's own proxy/stub; a description that cannot be read, a loop, or more than kMaxMarshaledInterfaces
// interfaces for one judgement is refused.
//
// A path is read as COM reads it: REG_EXPAND_SZ expanded; REG_SZ as written and, when it holds "%", expanded too,
// each reading judged; one pair of surrounding double quotes is taken off. A reading must then be an exact module
// path (foundation/trust/ModulePath.h: absolute, its file name with an extension) or a bare file name with an
// extension. It passes without its signature judged only when the loader, asked for it, hands back a module already
// loaded from the System folder (nothing new runs: the platform's default handler "ole32.dll", its proxies and its
// type-library marshaler in a process that imports them); that module is kept loaded while this object lives. Any
// other exact path must pass VerifyModuleTrust (a platform module that is not loaded too: some run what the
// registration names); any other bare name is refused. A reading that still holds a quote, any other, and a value
// that is no text are refused. A class with neither server nor handler (a local server) passes.
//
// JudgeObject judges the module that holds the object's first virtual function (GetModulePathFromAddress): a module
// directly in the System folder (the platform's, such as a proxy) passes, and so does a file judged by this object,
// without a second judgement; any other must pass VerifyModuleTrust. Code in no module, or a module whose name does
// not fit MAX_PATH, is refused. JudgeFactory judges a class factory's module the same way, except that the System
// folder gives no pass.
//
// Results: 0 trusted, otherwise the refusal (a trust code, or ERROR_ACCESS_DENIED). One object serves one creation on
// one thread; it keeps the files it judged and the platform modules it let pass.
#include <windows.h>
#include <unknwn.h>

#include <string>
#include <vector>

#include "foundation/basalt/OwnedHandle.h"

class ComServerJudgement {
public:
    static constexpr int kMaxTreatAsHops = 4;
    static constexpr int kMaxMarshaledInterfaces = 32;

    DWORD JudgeRegistration(REFCLSID clsid, DWORD context);
    DWORD JudgeProxyStub(REFIID iid);
    DWORD JudgeObject(IUnknown* object) const;
    DWORD JudgeFactory(IUnknown* factory) const;

private:
    DWORD JudgeCodeModule(IUnknown* object, bool systemFolderPasses) const;
    DWORD JudgeMarshaling(REFIID iid, std::vector<IID>& chain, int& budget);
    // Sets *fromTypeLibrary when a class of the chain is the platform's type-library marshaler.
    DWORD JudgeChain(REFCLSID clsid, DWORD context, bool* fromTypeLibrary);
    DWORD JudgeClass(REFCLSID clsid, DWORD context);
    DWORD JudgeServerKey(const std::wstring& key);
    DWORD JudgeReading(const std::wstring& path);
    bool HoldLoadedPlatformModule(const std::wstring& path);
    bool WasJudged(const std::wstring& path) const;

    std::vector<std::wstring> judged_;
    std::vector<Basalt::LoadedModule> platformModules_;
};
