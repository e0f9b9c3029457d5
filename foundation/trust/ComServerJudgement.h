#pragma once
// What COM may run in this process for a class, judged before COM is asked for it, and the module behind an object
// that COM made without that judgement's factory check.
//
// JudgeRegistration reads the registration as COM does: the class and every class it is treated as ("TreatAs",
// followed for at most kMaxTreatAsHops; a longer chain, and so every loop, or an unreadable entry is refused). For
// each class the in-process server (when the context allows one) and the in-process handler (likewise) must pass
// VerifyModuleTrust. A path is read as COM reads it: REG_EXPAND_SZ expanded; REG_SZ as written and, when it holds
// "%", expanded too, both readings judged; one pair of surrounding double quotes is taken off. A reading that is not
// an absolute path or still holds a quote, or a value that is no text, is refused. A class with neither (a local
// server) passes.
//
// JudgeObject judges the module that holds the object's first virtual function: a module directly in the System
// folder (the platform's, such as the proxy of a local server) passes, and so does a file that JudgeRegistration
// judged, without a second judgement; any other must pass VerifyModuleTrust. Code in no module, or a module whose
// name does not fit MAX_PATH, is refused.
//
// Results: 0 trusted, otherwise the refusal (a trust code, or ERROR_ACCESS_DENIED). One object serves one creation on
// one thread; it keeps only the files it judged.
#include <windows.h>
#include <unknwn.h>

#include <string>
#include <vector>

class ComServerJudgement {
public:
    static constexpr int kMaxTreatAsHops = 4;

    DWORD JudgeRegistration(REFCLSID clsid, DWORD context);
    DWORD JudgeObject(IUnknown* object) const;

private:
    DWORD JudgeClass(REFCLSID clsid, DWORD context);
    DWORD JudgeServerKey(const std::wstring& key);
    bool WasJudged(const std::wstring& path) const;

    std::vector<std::wstring> judged_;
};
