#pragma once
// The process's client of the suite's validation-trust service. At creation it reads the installed version of the
// system-core component (HKLM "Software\Torvex\Dunmore", value "dunmore_version") and takes the service's
// validation interface from the signed library jxvvtpa.dll ("KqvValidationControl2", else "KqvValidationControl").
// validateFile answers 0 when the service vouches for a file and 5 otherwise, also when there is no service at all.
// The process-wide client is made once, on first use, and lives until the process ends.
#include <windows.h>

// Whatever can vouch for a file before its signature is examined.
class FileValidator {
public:
    virtual ~FileValidator() = default;
    // 0 vouched for, 5 not.
    virtual DWORD validateFile(const wchar_t* path) = 0;
};

class ValidationServiceClient final : public FileValidator {
public:
    // The process-wide client; an exception while it is made leaves it unmade for the next call.
    static ValidationServiceClient& instance();

    ValidationServiceClient();
    ~ValidationServiceClient() override;
    ValidationServiceClient(const ValidationServiceClient&) = delete;
    ValidationServiceClient& operator=(const ValidationServiceClient&) = delete;

    DWORD validateFile(const wchar_t* path) override;

    // major * 100 + minor of the system-core component; 0 without its key.
    DWORD version() const { return version_; }
    bool hasInterface() const { return control_ != nullptr; }

    // The version code that a "dunmore_version" text gives: 1504 unless major >= 15 and minor >= 4.
    static DWORD VersionFromText(const wchar_t* text);

private:
    struct Verdict {
        DWORD status;
        DWORD verdict;
    };
    // The service's interface: IUnknown, two methods not used here, then the validation.
    struct ValidationControl {
        virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) = 0;
        virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
        virtual ULONG STDMETHODCALLTYPE Release() = 0;
        virtual HRESULT STDMETHODCALLTYPE Reserved1() = 0;
        virtual HRESULT STDMETHODCALLTYPE Reserved2() = 0;
        virtual HRESULT STDMETHODCALLTYPE ValidateFile(const wchar_t* path, DWORD flags, Verdict* verdict) = 0;
    };

    DWORD version_ = 0;
    ValidationControl* control_ = nullptr;
};
