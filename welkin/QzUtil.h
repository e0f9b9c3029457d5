#pragma once
// The binding of the suite's utility library "QzUtil.dll": 55 function slots filled by name from the loaded library.
// Load looks for the library next to the program, then in the folder named by HKLM "SOFTWARE\Torvex\Platform"
// "qzutil64_install_dir" (64-bit view), then in the highest version folder ("a,b,c,d") below the platform folder's
// "qzutil", then in the platform folder itself; a library is loaded only after VerifyModuleTrust accepts it (one
// that is already loaded is taken as it is). A version folder that loads is written back to "qzutil64_install_dir"
// when the process runs as an administrator.
// Every slot stays null until bound and is null when the library lacks the export: callers test a slot before a
// call. Slots 26 and 27 are never bound. A second Load on a loaded object takes one more reference on the library;
// the destructor frees one.
#include <windows.h>

class CQzUtil;

// Whether the process runs as an administrator, for the write-back of the install folder. Tests hand in their own.
class QzAdminCheck {
public:
    virtual ~QzAdminCheck() = default;
    virtual BOOL IsAdmin(CQzUtil& util) const;
};

// The exports, in binding order: slot type and name. The five that welkin calls have their signatures; the others
// are only held.
#define QZUTIL_EXPORTS_BEFORE_GAP(X)                                                                               \
    X(FARPROC, QzModulePathFromCLSIDW) X(FARPROC, QzModulePathFromCLSIDA) X(FARPROC, QzLoadLibraryW)                 \
    X(FARPROC, QzLoadLibraryA) X(FARPROC, QzCreateProcessW) X(FARPROC, QzCreateProcessA) X(FARPROC, QzCreateProcess2W) \
    X(FARPROC, QzCreateProcess2A) X(FARPROC, QzIsNTAdmin) X(FARPROC, QzDoesFileExistW) X(FARPROC, QzDoesFileExistA)  \
    X(FARPROC, QzGetProgramFilesPathW) X(FARPROC, QzGetProgramFilesPathA) X(FARPROC, QzRegDeleteKeyW)                \
    X(FARPROC, QzRegDeleteKeyA) X(QzDeleteFilesDeferedWFn, QzDeleteFilesDeferedW)                                    \
    X(FARPROC, QzDeleteFilesDeferedA) X(QzDeleteDirectoryDeferedWFn, QzDeleteDirectoryDeferedW)                      \
    X(FARPROC, QzDeleteDirectoryDeferedA) X(FARPROC, QzCopyFilesW) X(FARPROC, QzCopyFilesA)                          \
    X(FARPROC, QzCreateDirWithPermissions) X(FARPROC, QzGetApplicationDataDirectory) X(FARPROC, QzGetOSVersion)      \
    X(QzGetOSVersion2Fn, QzGetOSVersion2)
#define QZUTIL_EXPORTS_AFTER_GAP(X)                                                                                 \
    X(FARPROC, QzGetKVRVersion) X(FARPROC, QzShellExecute) X(FARPROC, IsPPInstalled) X(QzCreateTaskFn, QzCreateTask) \
    X(QzDeleteTaskFn, QzDeleteTask) X(FARPROC, QzEnableTask) X(FARPROC, QzDisableTask) X(FARPROC, QzIsFullScreen)    \
    X(FARPROC, QzIsMetroMode) X(FARPROC, QzBeginFSMonitor) X(FARPROC, QzEndFSMonitor) X(FARPROC, QzBeginMetroMonitor) \
    X(FARPROC, QzEndMetroMonitor) X(FARPROC, LaunchUIHost) X(FARPROC, IsUIHostRunning) X(FARPROC, QzGetHardwareID)   \
    X(FARPROC, QzGetWindowsID) X(FARPROC, QzGetMachineID) X(FARPROC, QzBeginBMMonitor) X(FARPROC, QzEndBMMonitor)    \
    X(FARPROC, QzIsIdleMode) X(FARPROC, QzIsIdleMode2) X(FARPROC, QzBeginCSMonitor) X(FARPROC, QzEndCSMonitor)       \
    X(FARPROC, IsCSModeOn) X(FARPROC, IsCSModeOn2) X(FARPROC, GetPlatformType) X(FARPROC, GetCPUVendorID)

class CQzUtil {
public:
    // (file pattern or folder, 1)
    using QzDeleteFilesDeferedWFn = DWORD(WINAPI*)(const wchar_t* pattern, DWORD flags);
    using QzDeleteDirectoryDeferedWFn = DWORD(WINAPI*)(const wchar_t* folder, DWORD flags);
    // (task name, the 152-byte task record)
    using QzCreateTaskFn = DWORD(WINAPI*)(const wchar_t* name, void* record);
    using QzDeleteTaskFn = DWORD(WINAPI*)(const wchar_t* name);
    // (in/out version number)
    using QzGetOSVersion2Fn = DWORD(WINAPI*)(DWORD* version);

    CQzUtil();
    explicit CQzUtil(const QzAdminCheck& adminCheck);
    ~CQzUtil();
    CQzUtil(const CQzUtil&) = delete;
    CQzUtil& operator=(const CQzUtil&) = delete;

    // 0 with the library loaded and the slots bound; 126 when no folder yields a loadable library.
    DWORD Load();
    // Fills every slot from the held library; false (slots unchanged) without one.
    bool Bind();

    const wchar_t* const libraryName = L"QzUtil.dll";
    HMODULE library = nullptr;
    CRITICAL_SECTION lock;

#define QZUTIL_SLOT(type, name) type name = nullptr;
    QZUTIL_EXPORTS_BEFORE_GAP(QZUTIL_SLOT)
    FARPROC slot26 = nullptr;
    FARPROC slot27 = nullptr;
    QZUTIL_EXPORTS_AFTER_GAP(QZUTIL_SLOT)
#undef QZUTIL_SLOT

private:
    bool LoadFromInstallDir();
    // The highest version folder below "<platform>qzutil"; an administrator's process records it.
    bool LoadFromVersionFolder(const wchar_t* platform);

    const QzAdminCheck& adminCheck_;
};

// Loads util's library from the folder (null or empty: the program's own folder). 0 loaded or already loaded (one
// more reference taken); 2 no library file there; 206 the path is too long; 574 the trust check failed unexpectedly;
// otherwise VerifyModuleTrust's refusal (nothing loaded) or the load's error.
DWORD LoadModuleFromFolder(CQzUtil& util, const wchar_t* folder);

// The version folder ("a,b,c,d", a plain folder without any other attribute) below parent with the highest version,
// compared number by number; the first of equal versions wins. Out gets parent + "\" + its name. FALSE when there
// is none, an argument is missing, or the path does not fit.
BOOL FindHighestVersionFolder(const wchar_t* parent, wchar_t* out, size_t capacity);

// The suite's platform folder: HKLM "SOFTWARE\Torvex\KVR" "CommonFiles Dir" (64-bit view), else
// "<Common Files>\Torvex\Platform"; with or without one final backslash. 0; 87 no buffer; 232 (out emptied) no
// folder; 122 (out emptied) when it does not fit.
DWORD GetPlatformFolder(wchar_t* out, size_t capacity, bool trailingBackslash);

// TRUE when the process token holds BUILTIN\Administrators enabled. When the group is present but not enabled the
// answer is FALSE and *presentNotEnabled (when given) is set to 1. Any failure is FALSE.
BOOL IsUserAdmin(CQzUtil& util, BOOL* presentNotEnabled);
