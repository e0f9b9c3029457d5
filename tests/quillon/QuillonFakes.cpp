#include "QuillonFakes.h"

#include <cwchar>

namespace quillontest {

Sample IdleSample() {
    Sample sample;
    sample.memory.value = 2048;
    sample.processor.value = 95;
    sample.disk.value = 99;
    return sample;
}

Sample BusySample() {
    Sample sample;
    sample.memory.value = 100;
    sample.processor.value = 10;
    sample.disk.value = 5;
    return sample;
}

FakePdh::FakePdh()
    : names{{4, L"Memory"},          {1382, L"Available MBytes"}, {238, L"Processor"},
            {1746, L"% Idle Time"},  {234, L"PhysicalDisk"},      {1482, L"% Idle Time"}} {}

PDH_STATUS FakePdh::LookupPerfNameByIndex(const wchar_t*, DWORD index, wchar_t* name, DWORD* size) {
    calls.push_back(L"lookup " + std::to_wstring(index));
    if (auto it = lookupStatus.find(index); it != lookupStatus.end()) return it->second;
    auto it = names.find(index);
    if (it == names.end()) return lookupFailure;
    if (it->second.size() + 1 > *size) return 0x800007D2;
    wcscpy(name, it->second.c_str());
    *size = static_cast<DWORD>(it->second.size() + 1);
    return ERROR_SUCCESS;
}

PDH_STATUS FakePdh::MakeCounterPath(PDH_COUNTER_PATH_ELEMENTS_W* elements, wchar_t* path, DWORD* size, DWORD) {
    std::wstring made = L"\\" + std::wstring(elements->szObjectName);
    if (elements->szInstanceName) made += L"(" + std::wstring(elements->szInstanceName) + L")";
    made += L"\\" + std::wstring(elements->szCounterName);
    calls.push_back(L"path " + made);
    if (makePathStatus != ERROR_SUCCESS) return makePathStatus;
    if (made.size() + 1 > *size) return 0x800007D2;
    wcscpy(path, made.c_str());
    *size = static_cast<DWORD>(made.size() + 1);
    return ERROR_SUCCESS;
}

PDH_STATUS FakePdh::EnumObjectItems(const wchar_t*, const wchar_t* object, wchar_t* counters, DWORD* counterChars,
                                    wchar_t* instances, DWORD* instanceChars, DWORD detailLevel, DWORD) {
    calls.push_back(L"enum " + std::wstring(object ? object : L"(null)"));
    enumDetailLevels.push_back(detailLevel);
    std::wstring list;
    for (const auto& name : diskInstances) list += name + L'\0';
    list += L'\0';
    const std::wstring counterList = std::wstring(L"% Idle Time") + L'\0' + L'\0';
    if (!instances) {
        *counterChars = static_cast<DWORD>(counterList.size());
        *instanceChars = static_cast<DWORD>(list.size());
        return enumSizeStatus;
    }
    if (enumStatus != ERROR_SUCCESS) return enumStatus;
    if (*instanceChars < list.size() || *counterChars < counterList.size()) return 0x800007D2;
    wmemcpy(counters, counterList.data(), counterList.size());
    wmemcpy(instances, list.data(), list.size());
    *counterChars = static_cast<DWORD>(counterList.size());
    *instanceChars = diskInstances.empty() ? 0 : static_cast<DWORD>(list.size());
    return ERROR_SUCCESS;
}

PDH_STATUS FakePdh::OpenQuery(const wchar_t*, DWORD_PTR, PDH_HQUERY* query) {
    calls.push_back(L"open");
    if (openStatus != ERROR_SUCCESS) return openStatus;
    *query = reinterpret_cast<PDH_HQUERY>(static_cast<UINT_PTR>(0x1000 + ++opened_));
    return ERROR_SUCCESS;
}

PDH_STATUS FakePdh::AddCounter(PDH_HQUERY, const wchar_t* path, DWORD_PTR, PDH_HCOUNTER* counter) {
    calls.push_back(L"add " + std::wstring(path));
    if (auto it = addStatus.find(path); it != addStatus.end()) return it->second;
    *counter = reinterpret_cast<PDH_HCOUNTER>(static_cast<UINT_PTR>(0x2000 + counterPaths_.size()));
    counterPaths_[*counter] = path;
    return ERROR_SUCCESS;
}

PDH_STATUS FakePdh::CollectQueryData(PDH_HQUERY) {
    calls.push_back(L"collect");
    if (!openingCollected_) {
        openingCollected_ = true;
        return firstCollect;
    }
    ++collections;
    current_ = samples.front();
    if (samples.size() > 1) samples.pop_front();
    return current_.collect;
}

PDH_STATUS FakePdh::GetFormattedCounterValue(PDH_HCOUNTER counter, DWORD format, DWORD*,
                                             PDH_FMT_COUNTERVALUE* value) {
    const std::wstring& path = counterPaths_[counter];
    calls.push_back(L"read " + path + L" " + std::to_wstring(format));
    const CounterRead& read = path.find(L"Memory") != std::wstring::npos      ? current_.memory
                              : path.find(L"Processor") != std::wstring::npos ? current_.processor
                                                                                : current_.disk;
    if (read.status != ERROR_SUCCESS) return read.status;
    value->CStatus = ERROR_SUCCESS;
    value->longValue = read.value;
    return ERROR_SUCCESS;
}

PDH_STATUS FakePdh::RemoveCounter(PDH_HCOUNTER counter) {
    calls.push_back(L"remove " + counterPaths_[counter]);
    ++removed;
    return ERROR_SUCCESS;
}

PDH_STATUS FakePdh::CloseQuery(PDH_HQUERY) {
    calls.push_back(L"close");
    ++closed;
    return ERROR_SUCCESS;
}

FakeEvents::~FakeEvents() {
    // The enable context outlives this double: leave it as a session's disable would.
    if (callback && context) callback(nullptr, 0, 0, 0, 0, nullptr, context);
}

std::vector<USHORT> FakeEvents::Ids() const {
    std::vector<USHORT> ids;
    for (const auto& event : written) ids.push_back(event.descriptor.Id);
    return ids;
}

ULONG FakeEvents::Register(const GUID* guid, PENABLECALLBACK enableCallback, void* enableContext,
                           REGHANDLE* handle) {
    ++registrations;
    provider = *guid;
    if (registerStatus != ERROR_SUCCESS) return registerStatus;
    callback = enableCallback;
    context = enableContext;
    *handle = 0x5150;
    if (enableOnRegister) callback(nullptr, 1, 5, ~0ull, 0, nullptr, context);
    return ERROR_SUCCESS;
}

ULONG FakeEvents::Write(REGHANDLE, const EVENT_DESCRIPTOR* descriptor, ULONG count, EVENT_DATA_DESCRIPTOR* data) {
    WrittenEvent event;
    event.descriptor = *descriptor;
    for (ULONG i = 0; i < count; ++i) {
        const BYTE* bytes = reinterpret_cast<const BYTE*>(static_cast<UINT_PTR>(data[i].Ptr));
        event.fields.emplace_back(bytes, bytes + data[i].Size);
    }
    written.push_back(std::move(event));
    return ERROR_SUCCESS;
}

ULONG FakeEvents::Unregister(REGHANDLE) {
    ++unregistrations;
    return ERROR_SUCCESS;
}

void FakeWaiter::Sleep(DWORD milliseconds) { sleeps.push_back(milliseconds); }

UINT_PTR FakeWaiter::SetTimer(UINT elapse, TIMERPROC procedure) {
    const int call = static_cast<int>(requestedElapses.size());
    requestedElapses.push_back(elapse);
    if (onSetTimer) onSetTimer(call);
    for (const auto& failure : failures) {
        if (failure.call == call) {
            SetLastError(failure.lastError);
            return 0;
        }
    }
    auto it = elapseMap.find(elapse);
    const UINT_PTR id = ::SetTimer(nullptr, 0, it != elapseMap.end() ? it->second : elapse, procedure);
    if (id) made_.push_back(id);
    return id;
}

FakeWaiter::~FakeWaiter() {
    for (UINT_PTR id : made_) ::KillTimer(nullptr, id);
}

BOOL FakeWaiter::NextMessage(MSG* message) {
    if (messageWaits++ == messageFailureAt) {
        message->wParam = brokenWParam;
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    return ::GetMessageW(message, nullptr, 0, 0);
}

BOOL FakeWaiter::KillTimer(UINT_PTR id) {
    killed.push_back(id);
    return ::KillTimer(nullptr, id);
}

BOOL FakeWaiter::GetDesktopInputFlag(DWORD* flag) {
    ++desktopQueries;
    const auto answer = desktop.front();
    if (desktop.size() > 1) desktop.pop_front();
    // A failed query may leave anything in the flag.
    *flag = answer.second;
    if (!answer.first) SetLastError(ERROR_INVALID_PARAMETER);
    return answer.first;
}

}  // namespace quillontest
