#include "clients/analytics/SDKConnector.h"

#include <mutex>

#include "clients/analytics/LegacyTransport.h"
#include "foundation/basalt/CommonReplacements.h"

namespace Orvan::Analytics {

namespace {

// Nothing in the system registers a transport of its own; the list stays empty and the defaults are used.
const internal::TransportList& RegisteredTransports() {
    static const internal::TransportList list;
    return list;
}

const internal::TransportList& DefaultTransports() {
    static const internal::TransportList list = {std::make_shared<CLegacyTransport>(),
                                                 std::make_shared<CNullTransport>()};
    return list;
}

std::mutex& SelectionMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

bool CSDKConnector::connect() {
    transport_.reset();
    transport_ = selectTransport();
    return static_cast<bool>(transport_);
}

std::shared_ptr<internal::ITransport> CSDKConnector::selectTransport() {
    const std::lock_guard<std::mutex> lock(SelectionMutex());
    std::shared_ptr<internal::ITransport> transport = findAvailableTransport(RegisteredTransports());
    if (!transport) transport = findAvailableTransport(DefaultTransports());
    if (!transport) transport = std::make_shared<CNullTransport>();
    return transport;
}

std::shared_ptr<internal::ITransport> CSDKConnector::findAvailableTransport(const internal::TransportList& list) {
    for (const auto& transport : list) {
        if (transport->initialize()) return transport;
        transport->shutdown();
    }
    return nullptr;
}

bool CSDKConnector::send(Record& record) {
    if (!transport_) return false;
    addStandardProperties(record);
    return transport_->send(record);
}

void CSDKConnector::disconnect() {
    if (transport_) transport_->shutdown();
    transport_.reset();
}

void CSDKConnector::addStandardProperties(Record& record) const {
    std::wstring path = L"$(App.Path)";
    Basalt::CommonReplacements().expand(path);
    // Doubled here and doubled again by the JSON escape: the service reads the name this way.
    std::wstring caller;
    for (const wchar_t c : path) {
        caller += c;
        if (c == L'\\') caller += L'\\';
    }
    record[L"__caller.name"] = caller;
    if (transport_)
        record[L"__transport.name"] = transport_->getName() + L" v" + std::to_wstring(transport_->getVersion());
}

}  // namespace Orvan::Analytics
