#include "tests/doubles/CorluneBroker.h"

#include <algorithm>
#include <cstring>

#include "tests/doubles/CorluneControl.h"
#include "tests/doubles/CorluneResponder.h"
#include "tests/doubles/JournalFile.h"

namespace doubles::corlune {

namespace {

constexpr uint32_t kSuccess = 0;
constexpr uint32_t kUnsuccessful = 0x80000002;
constexpr uint32_t kInvalidHandle = 0x80000007;
constexpr uint32_t kInvalidParameter = 0x80000008;
constexpr uint32_t kNotFound = 0x8000000A;
constexpr uint32_t kTimeout = 0x8000000D;
constexpr uint32_t kNoSubscribers = 0x8000000E;
constexpr uint64_t kLongestDelayMs = 10ull * 365 * 24 * 60 * 60 * 1000;

thread_local bool t_onWorker = false;

std::wstring TextOf(const wchar_t* text) { return text ? std::wstring(text) : std::wstring(); }

uint32_t TotalSize(const Carried& message) {
    return static_cast<uint32_t>(108 + 2 * (message.name.size() + message.sender.size() + message.data.size()) + 6);
}

Orvan::MessageHeader TemplateHeader() {
    Orvan::MessageHeader header{};
    header.marker = 1;
    header.version = 2;
    header.extensionType = 11;
    header.extensionSize = 8;
    return header;
}

std::wstring Hex(uint64_t value) {
    wchar_t text[24] = {};
    swprintf(text, 24, L"0x%llX", static_cast<unsigned long long>(value));
    return text;
}

// One journal line: the entry, then tab-separated key=value fields.
class Line {
public:
    explicit Line(const char* entry) {
        for (const char* c = entry; *c; ++c) text_.push_back(static_cast<wchar_t>(*c));
        Add(L"thread", std::to_wstring(GetCurrentThreadId()));
    }
    Line& Add(const wchar_t* key, const std::wstring& value) {
        text_ += L'\t';
        text_ += key;
        text_ += L'=';
        text_ += value;
        return *this;
    }
    Line& Number(const wchar_t* key, uint64_t value) { return Add(key, std::to_wstring(value)); }
    Line& Handle(uintptr_t handle) { return Add(L"handle", Hex(handle)); }
    Line& Status(uint32_t status) { return Add(L"status", Hex(status)); }
    Line& Message(const Carried& message, uint16_t version) {
        Add(L"name", message.name).Add(L"sender", message.sender).Add(L"data", message.data);
        Number(L"version", version).Number(L"total", message.header.totalSize);
        Number(L"totalOk", message.header.totalSize == TotalSize(message) ? 1 : 0);
        return Add(L"flags", Hex(message.header.flags)).Number(L"correlation", message.header.replyCorrelation);
    }
    const std::wstring& Text() const { return text_; }

private:
    std::wstring text_;
};

// The strings and header a callback sees, overwritten when it returns so that code keeping them shows at once.
// A version-1 header is the first 100 bytes only, placed just before an inaccessible page.
class CallbackBuffers {
public:
    CallbackBuffers(const Carried& message, uint16_t version)
        : name_(message.name), sender_(message.sender), data_(message.data), nullStrings_(message.nullStrings) {
        if (nullStrings_) return;
        if (version == 1) {
            SYSTEM_INFO system;
            GetSystemInfo(&system);
            page_ = system.dwPageSize;
            region_ = static_cast<BYTE*>(VirtualAlloc(nullptr, 2 * page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
            if (region_) {
                DWORD old = 0;
                VirtualProtect(region_ + page_, page_, PAGE_NOACCESS, &old);
                header_ = reinterpret_cast<Orvan::MessageHeader*>(region_ + page_ - 100);
                std::memcpy(static_cast<void*>(header_), &message.header, 100);
                header_->version = 1;
                header_->totalSize = static_cast<uint32_t>(100 + 2 * (name_.size() + sender_.size() + data_.size()) + 6);
            }
        } else {
            plain_ = message.header;
            header_ = &plain_;
        }
    }
    ~CallbackBuffers() {
        if (region_) VirtualFree(region_, 0, MEM_RELEASE);
    }
    const Orvan::MessageHeader* Header() const { return header_; }
    const wchar_t* Name() const { return nullStrings_ ? nullptr : name_.c_str(); }
    const wchar_t* Sender() const { return nullStrings_ ? nullptr : sender_.c_str(); }
    const wchar_t* Data() const { return nullStrings_ ? nullptr : data_.c_str(); }
    void Scrub() {
        std::fill(name_.begin(), name_.end(), L'#');
        std::fill(sender_.begin(), sender_.end(), L'#');
        std::fill(data_.begin(), data_.end(), L'#');
        if (header_) std::memset(static_cast<void*>(header_), 0xCC, header_ == &plain_ ? sizeof(plain_) : 100);
    }

private:
    std::wstring name_, sender_, data_;
    bool nullStrings_;
    Orvan::MessageHeader plain_{};
    Orvan::MessageHeader* header_ = nullptr;
    BYTE* region_ = nullptr;
    SIZE_T page_ = 0;
};

bool Listed(const std::vector<std::wstring>& list, const std::wstring& text) {
    return std::find(list.begin(), list.end(), text) != list.end();
}

}  // namespace

Broker& Broker::Instance() {
    // Never destroyed: its threads must not be torn down inside DllMain when the library goes.
    static Broker* const broker = new Broker();
    return *broker;
}

Broker::Broker() : settings_(Settings::FromEnvironment()) { SettingsChanged(); }

void Broker::SettingsChanged() {
    wchar_t variable[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(kJournalVariable, variable, MAX_PATH);
    const std::wstring fromEnvironment = length > 0 && length < MAX_PATH ? variable : L"";
    std::lock_guard<std::mutex> guard(journalLock_);
    journalPath_ = settings_.Text(L"journal", fromEnvironment);
}

void Broker::Journal(const std::wstring& line) {
    std::lock_guard<std::mutex> guard(journalLock_);
    AppendToRoadJournal("bus", Utf8(line) + "\n");
    if (journalPath_.empty()) return;
    AppendToJournal(journalPath_.c_str(), Utf8(line) + "\n");
}

bool Broker::FailCreate() {
    std::lock_guard<std::mutex> guard(lock_);
    return settings_.Number(L"fail.create", 0) != 0;
}

void Broker::JournalCreate(uint32_t id, bool answered) {
    Journal(Line("create").Number(L"id", id).Number(L"answered", answered ? 1 : 0).Text());
}

uint32_t Broker::Configure(const wchar_t* text) {
    std::lock_guard<std::mutex> guard(lock_);
    const bool wellFormed = settings_.Add(TextOf(text));
    SettingsChanged();
    return wellFormed ? kSuccess : kInvalidParameter;
}

void Broker::Reset() {
    std::lock_guard<std::mutex> guard(lock_);
    settings_ = Settings::FromEnvironment();
    SettingsChanged();
}

uint32_t Broker::Open(Orvan::BusHandle* handle) {
    std::unique_lock<std::mutex> lock(lock_);
    JoinFinished(lock);
    uint32_t status = static_cast<uint32_t>(settings_.Number(L"fail.open", 0));
    uintptr_t opened = 0;
    if (!handle) {
        status = kInvalidParameter;
    } else if (status == kSuccess) {
        nextHandle_ += 0x10;
        opened = nextHandle_;
        handles_.insert(opened);
        *handle = reinterpret_cast<Orvan::BusHandle>(opened);
        if (workers_.empty()) StartWorkers();
    }
    Journal(Line("open").Handle(opened).Status(status).Text());
    return status;
}

void Broker::StartWorkers() {
    const uint64_t count = std::clamp<uint64_t>(settings_.Number(L"workers", 2), 1, 8);
    const uint64_t generation = generation_;
    for (uint64_t i = 0; i < count; ++i) workers_.emplace_back([this, generation] { WorkerLoop(generation); });
}

void Broker::StopWorkers(std::unique_lock<std::mutex>& lock) {
    ++generation_;
    work_.notify_all();
    std::vector<std::thread> stopping = std::move(workers_);
    workers_.clear();
    lock.unlock();
    for (std::thread& worker : stopping) {
        if (worker.get_id() == std::this_thread::get_id())
            finished_.push_back(std::move(worker));  // cannot join itself; the next open or close does
        else
            worker.join();
    }
    lock.lock();
}

void Broker::JoinFinished(std::unique_lock<std::mutex>& lock) {
    std::vector<std::thread> joinable;
    for (std::thread& worker : finished_)
        if (worker.get_id() != std::this_thread::get_id()) joinable.push_back(std::move(worker));
    finished_.erase(std::remove_if(finished_.begin(), finished_.end(), [](std::thread& t) { return !t.joinable(); }),
                    finished_.end());
    if (joinable.empty()) return;
    lock.unlock();
    for (std::thread& worker : joinable) worker.join();
    lock.lock();
}

uint32_t Broker::Close(Orvan::BusHandle handle) {
    const uintptr_t id = reinterpret_cast<uintptr_t>(handle);
    std::unique_lock<std::mutex> lock(lock_);
    uint32_t status = static_cast<uint32_t>(settings_.Number(L"fail.close", 0));
    if (!Known(id)) status = kInvalidHandle;
    if (status == kSuccess) {
        handles_.erase(id);
        for (auto s = subscriptions_.begin(); s != subscriptions_.end();)
            s = s->second.handle == id ? subscriptions_.erase(s) : std::next(s);
        for (auto r = replyCallbacks_.begin(); r != replyCallbacks_.end();)
            r = r->first == id ? replyCallbacks_.erase(r) : std::next(r);
        for (auto t = queue_.begin(); t != queue_.end();) t = t->second.handle == id ? queue_.erase(t) : std::next(t);
        done_.notify_all();
        WaitForRunning(lock, id, 0, nullptr);
    }
    Journal(Line("close").Handle(id).Status(status).Text());
    if (status == kSuccess && handles_.empty()) {
        StopWorkers(lock);
        JoinFinished(lock);
    }
    return status;
}

std::vector<Broker::Task> Broker::MatchingDeliveries(const Carried& message, uintptr_t) {
    std::vector<Task> tasks;
    const uint16_t version = static_cast<uint16_t>(settings_.Number(L"header.version", 2));
    for (const auto& [id, record] : subscriptions_) {
        const bool matches = record.filter ? std::regex_search(message.name, record.pattern)
                                           : record.text == message.name;
        if (!matches) continue;
        Task task;
        task.kind = Task::Kind::Delivery;
        task.handle = record.handle;
        task.subscription = id;
        task.delivery = record.callback;
        task.context = record.context;
        task.message = message;
        task.headerVersion = version;
        tasks.push_back(std::move(task));
    }
    return tasks;
}

void Broker::Queue(Task task, Clock::time_point due) {
    queue_.emplace(due, std::move(task));
    work_.notify_one();
}

bool Broker::StillWanted(const Task& task) const {
    if (!Known(task.handle)) return false;
    if (task.kind == Task::Kind::Delivery) {
        const auto found = subscriptions_.find(task.subscription);
        return found != subscriptions_.end() && found->second.handle == task.handle;
    }
    return replyCallbacks_.count({task.handle, task.reply}) != 0;
}

void Broker::RunTask(std::unique_lock<std::mutex>& lock, Task& task) {
    running_.push_back({std::this_thread::get_id(), task.handle, task.subscription, task.reply});
    lock.unlock();
    uint32_t result = 0;
    {
        CallbackBuffers buffers(task.message, task.headerVersion);
        if (task.kind == Task::Kind::Delivery)
            result = task.delivery(task.context, buffers.Header(), buffers.Name(), buffers.Sender(), buffers.Data());
        else
            result = task.reply(task.context, task.index, buffers.Header(), buffers.Name(), buffers.Sender(),
                                buffers.Data(), task.status);
        buffers.Scrub();
    }
    Line line(task.kind == Task::Kind::Delivery ? "deliver" : "reply");
    line.Handle(task.handle);
    if (task.kind == Task::Kind::Delivery)
        line.Number(L"id", task.subscription).Add(L"name", task.message.name);
    else
        line.Number(L"index", task.index).Status(task.status);
    line.Number(L"version", task.headerVersion).Add(L"result", Hex(result));
    Journal(line.Text());
    lock.lock();
    const auto self = std::find_if(running_.begin(), running_.end(), [&](const Running& r) {
        return r.thread == std::this_thread::get_id() && r.handle == task.handle &&
               r.subscription == task.subscription && r.reply == task.reply;
    });
    if (self != running_.end()) running_.erase(self);
    done_.notify_all();
}

void Broker::WaitForRunning(std::unique_lock<std::mutex>& lock, uintptr_t handle, uint32_t subscription,
                            Orvan::BusReplyCallback reply) {
    // A subscription's release waits for its deliveries on other threads wherever it is called, as a broker does;
    // the other calls, made on a worker, wait for nothing.
    if (t_onWorker && subscription == 0) return;
    const auto me = std::this_thread::get_id();
    done_.wait(lock, [&] {
        return std::none_of(running_.begin(), running_.end(), [&](const Running& r) {
            if (r.thread == me) return false;  // the caller is inside this very callback
            if (subscription != 0) return r.subscription == subscription;
            if (reply != nullptr) return r.handle == handle && r.reply == reply;
            return r.handle == handle;
        });
    });
}

void Broker::WorkerLoop(uint64_t generation) {
    t_onWorker = true;
    std::unique_lock<std::mutex> lock(lock_);
    while (generation == generation_) {
        if (queue_.empty()) {
            work_.wait(lock);
            continue;
        }
        const auto first = queue_.begin();
        if (first->first > Clock::now()) {
            work_.wait_until(lock, first->first);
            continue;
        }
        Task task = std::move(first->second);
        queue_.erase(first);
        if (StillWanted(task)) RunTask(lock, task);
        done_.notify_all();
    }
}

uint32_t Broker::Publish(const char* entry, Orvan::BusHandle handle, const Orvan::MessageHeader* header,
                         const wchar_t* name, const wchar_t* sender, const wchar_t* data) {
    const uintptr_t id = reinterpret_cast<uintptr_t>(handle);
    std::unique_lock<std::mutex> lock(lock_);
    Carried message{TextOf(name), TextOf(sender), TextOf(data), false, TemplateHeader()};
    uint32_t status = static_cast<uint32_t>(settings_.Number(L"fail.publish", 0));
    if (!Known(id)) status = kInvalidHandle;
    if (!header || !name) status = kInvalidParameter;
    if (header) message.header = *header;
    Journal(Line(entry).Handle(id).Message(message, header ? header->version : 0).Status(status).Text());
    if (status != kSuccess) return status;
    const uint32_t session = static_cast<uint32_t>(settings_.Number(L"session", 0));
    if (session != 0) message.header.sessionId = session;
    std::vector<Task> tasks = MatchingDeliveries(message, id);
    const bool inline_ = settings_.Text(L"mode") == L"sync";
    for (Task& task : tasks) {
        if (!inline_) {
            Queue(std::move(task), Clock::now());
        } else if (StillWanted(task)) {
            RunTask(lock, task);
        }
    }
    return kSuccess;
}

uint32_t Broker::Inject(const wchar_t* name, const wchar_t* sender, const wchar_t* data, uint32_t session,
                        uint16_t version) {
    std::unique_lock<std::mutex> lock(lock_);
    if (!name) return kInvalidParameter;
    Carried message{TextOf(name), TextOf(sender), TextOf(data), false, TemplateHeader()};
    message.header.totalSize = TotalSize(message);
    message.header.sessionId = session;
    Journal(Line("inject").Message(message, version).Number(L"session", session).Text());
    for (Task& task : MatchingDeliveries(message, 0)) {
        task.headerVersion = version;
        Queue(std::move(task), Clock::now());
    }
    return kSuccess;
}

uint32_t Broker::Request(const char* entry, Orvan::BusHandle handle, uint64_t index, void* context,
                         Orvan::BusReplyCallback callback, const Orvan::MessageHeader* header, const wchar_t* name,
                         const wchar_t* sender, const wchar_t* data, uint64_t timeoutMs) {
    const uintptr_t id = reinterpret_cast<uintptr_t>(handle);
    std::unique_lock<std::mutex> lock(lock_);
    Carried message{TextOf(name), TextOf(sender), TextOf(data), false, TemplateHeader()};
    uint32_t status = static_cast<uint32_t>(settings_.Number(L"fail.request", 0));
    if (status == kSuccess && name && Listed(settings_.All(L"refuse.request"), message.name)) status = kNoSubscribers;
    if (!Known(id)) status = kInvalidHandle;
    if (!header || !name || !callback) status = kInvalidParameter;
    if (header) message.header = *header;
    Journal(Line(entry)
                .Handle(id)
                .Message(message, header ? header->version : 0)
                .Number(L"timeout", timeoutMs)
                .Number(L"index", index)
                .Status(status)
                .Text());
    if (status != kSuccess) return status;

    replyCallbacks_.insert({id, callback});
    const ReplyPlan plan = PlanReply(corlune::Request{message.name, message.sender, message.data, timeoutMs}, settings_);
    if (plan.kind == ReplyPlan::Kind::None) return kSuccess;

    Task task;
    task.kind = Task::Kind::Reply;
    task.handle = id;
    task.reply = callback;
    task.context = context;
    task.index = index;
    task.headerVersion = static_cast<uint16_t>(settings_.Number(L"header.version", 2));
    const uint64_t timeout = std::min(timeoutMs, kLongestDelayMs);
    const uint64_t delay = std::min(plan.delayMs, kLongestDelayMs);
    bool timedOut = plan.kind == ReplyPlan::Kind::TimeOut || delay > timeout;
    if (timedOut) {
        task.status = kTimeout;
        task.message.nullStrings = true;
    } else if (plan.kind == ReplyPlan::Kind::Failure) {
        task.status = plan.status != kSuccess ? plan.status : kUnsuccessful;
        task.message.nullStrings = true;
    } else {
        task.message = Carried{plan.name, plan.sender, plan.data, false, TemplateHeader()};
        task.message.header.flags = 1;  // a reply
        task.message.header.replyCorrelation = index;
        task.message.header.totalSize = TotalSize(task.message);
    }
    const uint64_t wait = timedOut ? timeout : delay;
    if (wait == 0 && settings_.Text(L"mode") == L"sync") {
        RunTask(lock, task);
    } else {
        Queue(std::move(task), Clock::now() + std::chrono::milliseconds(wait));
    }
    // What the replier announces once its answer is out goes to every matching subscriber after the reply.
    if (!timedOut && plan.kind == ReplyPlan::Kind::Answer) {
        for (const auto& [noticeName, noticeData] : plan.notices) {
            Carried notice{noticeName, plan.sender, noticeData, false, TemplateHeader()};
            notice.header.totalSize = TotalSize(notice);
            for (Task& delivery : MatchingDeliveries(notice, id))
                Queue(std::move(delivery), Clock::now() + std::chrono::milliseconds(wait + 1));
        }
    }
    return kSuccess;
}

uint32_t Broker::Subscribe(const char* entry, Orvan::BusHandle handle, void* context,
                           Orvan::BusDeliveryCallback callback, const wchar_t* text, bool filter) {
    const uintptr_t id = reinterpret_cast<uintptr_t>(handle);
    std::lock_guard<std::mutex> guard(lock_);
    uint32_t subscription = 0;
    SubscriptionRecord record;
    record.handle = id;
    record.filter = filter;
    record.text = TextOf(text);
    record.context = context;
    record.callback = callback;
    bool accepted = Known(id) && text && callback &&
                    !Listed(settings_.All(filter ? L"refuse.filter" : L"refuse.subscribe"), record.text);
    if (accepted && filter) {
        try {
            record.pattern.assign(record.text, std::regex::ECMAScript);
        } catch (const std::regex_error&) {
            accepted = false;
        }
    }
    if (accepted) {
        subscription = nextSubscription_++;
        subscriptions_.emplace(subscription, std::move(record));
    }
    Journal(Line(entry).Handle(id).Add(L"name", TextOf(text)).Number(L"id", subscription).Text());
    return subscription;
}

uint32_t Broker::Unsubscribe(Orvan::BusHandle handle, uint32_t subscription) {
    const uintptr_t id = reinterpret_cast<uintptr_t>(handle);
    std::unique_lock<std::mutex> lock(lock_);
    const auto found = subscriptions_.find(subscription);
    const bool known = found != subscriptions_.end() && found->second.handle == id;
    if (known) {
        subscriptions_.erase(found);
        for (auto t = queue_.begin(); t != queue_.end();)
            t = t->second.kind == Task::Kind::Delivery && t->second.subscription == subscription ? queue_.erase(t)
                                                                                                 : std::next(t);
        done_.notify_all();
        WaitForRunning(lock, id, subscription, nullptr);
    }
    const uint32_t status = known ? kSuccess : kNotFound;
    Journal(Line("unsubscribe").Handle(id).Number(L"id", subscription).Status(status).Text());
    return status;
}

uint32_t Broker::UnregisterReplyCallback(Orvan::BusHandle handle, Orvan::BusReplyCallback callback) {
    const uintptr_t id = reinterpret_cast<uintptr_t>(handle);
    std::unique_lock<std::mutex> lock(lock_);
    const bool known = replyCallbacks_.erase({id, callback}) != 0;
    for (auto t = queue_.begin(); t != queue_.end();)
        t = t->second.kind == Task::Kind::Reply && t->second.handle == id && t->second.reply == callback
                ? queue_.erase(t)
                : std::next(t);
    done_.notify_all();
    WaitForRunning(lock, id, 0, callback);
    Journal(Line("unregisterReplyCallback").Handle(id).Number(L"registered", known ? 1 : 0).Text());
    return kSuccess;
}

bool Broker::WaitIdle(uint32_t milliseconds) {
    std::unique_lock<std::mutex> lock(lock_);
    return done_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                          [&] { return queue_.empty() && running_.empty(); });
}

uint32_t Broker::OpenHandles() {
    std::lock_guard<std::mutex> guard(lock_);
    return static_cast<uint32_t>(handles_.size());
}

uint32_t Broker::Subscriptions() {
    std::lock_guard<std::mutex> guard(lock_);
    return static_cast<uint32_t>(subscriptions_.size());
}

uint32_t Broker::ReplyCallbacks() {
    std::lock_guard<std::mutex> guard(lock_);
    return static_cast<uint32_t>(replyCallbacks_.size());
}

uint32_t Broker::Workers() {
    std::lock_guard<std::mutex> guard(lock_);
    return static_cast<uint32_t>(workers_.size());
}

}  // namespace doubles::corlune
