// Stand-in for the suite's utility library. It keeps no state (it is loaded and freed per use): every call of an
// export that welkin calls appends one UTF-8 line to the file named by WELKIN_QZUTIL_JOURNAL (nothing when unset):
//   QzDeleteFilesDeferedW <pattern> <flags>
//   QzDeleteDirectoryDeferedW <folder> <flags>
//   QzCreateTask <name> <u32@0> <u32@4> <u32@8> <path@16> <pointer@24 null|set> <u32@40> <u32@44> <u32@84>
//   QzDeleteTask <name>
//   QzGetOSVersion2 <number passed in>          (answers 10)
// QzUtilDoubleIdentity tells the builds apart: QZUTIL_DOUBLE_IDENTITY; the build with QZUTIL_DOUBLE_LACKS_DELETE_TASK
// does not export QzDeleteTask.
#include <windows.h>

#include <cstring>
#include <string>

#include "tests/doubles/JournalFile.h"

namespace {

std::string Utf8(const wchar_t* text) { return text ? doubles::Utf8(text) : "(null)"; }

void Journal(const std::string& line) {
    doubles::AppendToRoadJournal("utility", line + "\n");
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"WELKIN_QZUTIL_JOURNAL", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    doubles::AppendToJournal(path, line + "\n");
}

DWORD U32At(const void* record, size_t offset) {
    DWORD value = 0;
    std::memcpy(&value, static_cast<const BYTE*>(record) + offset, sizeof value);
    return value;
}

const void* PointerAt(const void* record, size_t offset) {
    const void* value = nullptr;
    std::memcpy(&value, static_cast<const BYTE*>(record) + offset, sizeof value);
    return value;
}

}  // namespace

extern "C" {

__declspec(dllexport) DWORD QzUtilDoubleIdentity() { return QZUTIL_DOUBLE_IDENTITY; }

__declspec(dllexport) DWORD WINAPI QzDeleteFilesDeferedW(const wchar_t* pattern, DWORD flags) {
    Journal("QzDeleteFilesDeferedW " + Utf8(pattern) + " " + std::to_string(flags));
    return 0;
}

__declspec(dllexport) DWORD WINAPI QzDeleteDirectoryDeferedW(const wchar_t* folder, DWORD flags) {
    Journal("QzDeleteDirectoryDeferedW " + Utf8(folder) + " " + std::to_string(flags));
    return 0;
}

__declspec(dllexport) DWORD WINAPI QzCreateTask(const wchar_t* name, void* record) {
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on `" " + std::string` here.
    std::string line = "QzCreateTask ";
    line += Utf8(name);
    auto field = [&line](const std::string& text) {
        line += ' ';
        line += text;
    };
    if (record) {
        for (size_t offset : {0, 4, 8}) field(std::to_string(U32At(record, offset)));
        field(Utf8(static_cast<const wchar_t*>(PointerAt(record, 16))));
        field(PointerAt(record, 24) ? "set" : "null");
        for (size_t offset : {40, 44, 84}) field(std::to_string(U32At(record, offset)));
    }
    Journal(line);
    return 0;
}

#ifndef QZUTIL_DOUBLE_LACKS_DELETE_TASK
__declspec(dllexport) DWORD WINAPI QzDeleteTask(const wchar_t* name) {
    Journal("QzDeleteTask " + Utf8(name));
    return 0;
}
#endif

__declspec(dllexport) DWORD WINAPI QzGetOSVersion2(DWORD* version) {
    Journal("QzGetOSVersion2 " + (version ? std::to_string(*version) : std::string("(null)")));
    if (!version) return ERROR_INVALID_PARAMETER;
    *version = 10;
    return 0;
}

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
