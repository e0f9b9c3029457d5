#pragma once
// The process-wide broker behind every handle of the bus double. Worker threads start on the first open and are
// joined on the last close (never in DllMain). Callbacks run on a worker after the entry has returned, or, in sync
// mode, inside publish/request on the caller's thread. After unsubscribe, unregisterReplyCallback or close returns,
// no callback of that subscription, reply callback or handle starts. Unsubscribe waits for the subscription's
// deliveries running on other threads, also when called on a worker; unregisterReplyCallback and close wait for
// running callbacks unless they are made on a worker thread. None waits for the callback it is called from.
// Strings and headers handed to a callback are overwritten once it returns.
#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "clients/messagebus/MessageBusFunctions.h"
#include "tests/doubles/CorluneSettings.h"

namespace doubles::corlune {

// One message as the broker carries it (copied from the caller's buffers).
struct Carried {
    std::wstring name, sender, data;
    bool nullStrings = false;  // a failure reply: null name, sender and data
    Orvan::MessageHeader header{};
};

class Broker {
public:
    static Broker& Instance();

    // Table entries.
    uint32_t Open(Orvan::BusHandle* handle);
    uint32_t Close(Orvan::BusHandle handle);
    uint32_t Publish(const char* entry, Orvan::BusHandle handle, const Orvan::MessageHeader* header,
                     const wchar_t* name, const wchar_t* sender, const wchar_t* data);
    uint32_t Request(const char* entry, Orvan::BusHandle handle, uint64_t index, void* context,
                     Orvan::BusReplyCallback callback, const Orvan::MessageHeader* header, const wchar_t* name,
                     const wchar_t* sender, const wchar_t* data, uint64_t timeoutMs);
    uint32_t Subscribe(const char* entry, Orvan::BusHandle handle, void* context, Orvan::BusDeliveryCallback callback,
                       const wchar_t* text, bool filter);
    uint32_t Unsubscribe(Orvan::BusHandle handle, uint32_t id);
    uint32_t UnregisterReplyCallback(Orvan::BusHandle handle, Orvan::BusReplyCallback callback);

    // Control.
    bool FailCreate();
    void JournalCreate(uint32_t id, bool answered);
    uint32_t Configure(const wchar_t* settings);
    void Reset();
    uint32_t Inject(const wchar_t* name, const wchar_t* sender, const wchar_t* data, uint32_t session,
                    uint16_t version);
    bool WaitIdle(uint32_t milliseconds);
    uint32_t OpenHandles();
    uint32_t Subscriptions();
    uint32_t ReplyCallbacks();
    uint32_t Workers();

private:
    struct SubscriptionRecord {
        uintptr_t handle = 0;
        bool filter = false;
        std::wstring text;
        std::wregex pattern;
        void* context = nullptr;
        Orvan::BusDeliveryCallback callback = nullptr;
    };
    struct Task {
        enum class Kind { Delivery, Reply } kind = Kind::Delivery;
        uintptr_t handle = 0;
        uint32_t subscription = 0;                     // of a delivery
        Orvan::BusDeliveryCallback delivery = nullptr;  // of a delivery
        Orvan::BusReplyCallback reply = nullptr;        // of a reply
        void* context = nullptr;
        uint64_t index = 0;
        uint32_t status = 0;
        Carried message;
        uint16_t headerVersion = 2;
    };
    struct Running {
        std::thread::id thread;
        uintptr_t handle;
        uint32_t subscription;
        Orvan::BusReplyCallback reply;
    };
    using Clock = std::chrono::steady_clock;

    Broker();
    void Journal(const std::wstring& line);
    // Deliveries of a message to every matching subscription (lock held), queued or returned for inline runs.
    std::vector<Task> MatchingDeliveries(const Carried& message, uintptr_t except);
    void Queue(Task task, Clock::time_point due);
    // Runs a task whose right to start was checked under the lock; the lock is released meanwhile.
    void RunTask(std::unique_lock<std::mutex>& lock, Task& task);
    bool StillWanted(const Task& task) const;
    void WaitForRunning(std::unique_lock<std::mutex>& lock, uintptr_t handle, uint32_t subscription,
                        Orvan::BusReplyCallback reply);
    void WorkerLoop(uint64_t generation);
    void StartWorkers();
    void StopWorkers(std::unique_lock<std::mutex>& lock);
    void JoinFinished(std::unique_lock<std::mutex>& lock);
    void SettingsChanged();
    bool Known(uintptr_t handle) const { return handles_.count(handle) != 0; }

    std::mutex lock_;
    std::condition_variable work_;
    std::condition_variable done_;
    Settings settings_;
    std::set<uintptr_t> handles_;
    uintptr_t nextHandle_ = 0xB05000;
    std::map<uint32_t, SubscriptionRecord> subscriptions_;
    uint32_t nextSubscription_ = 1;
    std::set<std::pair<uintptr_t, Orvan::BusReplyCallback>> replyCallbacks_;
    std::multimap<Clock::time_point, Task> queue_;
    std::vector<Running> running_;
    std::vector<std::thread> workers_;
    std::vector<std::thread> finished_;  // workers told to stop from one of their own callbacks, joined later
    uint64_t generation_ = 0;  // workers of an older generation leave their loop
    std::mutex journalLock_;
    std::wstring journalPath_;
};

}  // namespace doubles::corlune
