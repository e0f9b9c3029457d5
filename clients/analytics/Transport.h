#pragma once
// A way for a telemetry record to reach the suite's telemetry service. The connector tries transports in order and
// keeps the first whose initialize answers true; one that answers false is shut down before the next is tried.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "clients/analytics/Record.h"

namespace Orvan::Analytics {

namespace internal {

class ITransport {
public:
    virtual ~ITransport() = default;
    virtual bool initialize() = 0;
    virtual bool send(const Record& record) = 0;
    virtual void shutdown() = 0;
    virtual std::wstring getName() const = 0;
    virtual std::uint32_t getVersion() const = 0;
};

using TransportList = std::vector<std::shared_ptr<ITransport>>;

// Name and version; the rest is the derived transport's.
class CBaseTransport : public ITransport {
public:
    CBaseTransport(std::wstring name, std::uint32_t version) : name_(std::move(name)), version_(version) {}
    std::wstring getName() const override { return name_; }
    std::uint32_t getVersion() const override { return version_; }

private:
    std::wstring name_;
    std::uint32_t version_;
};

}  // namespace internal

// Accepts every record and discards it, so that sending never fails for lack of a service.
class CNullTransport : public internal::CBaseTransport {
public:
    CNullTransport() : CBaseTransport(L"NULL-Pattern", 1) {}
    bool initialize() override { return true; }
    bool send(const Record&) override { return true; }
    void shutdown() override {}
};

}  // namespace Orvan::Analytics
