#pragma once
// Picks the transport for one Send and hands it the record with the caller and transport properties added:
// connect, send, disconnect. The transports live in two process-wide lists, the registered list (tried first) and
// the default list [the legacy transport, the null transport]; one process-wide mutex serialises the choice.
#include <memory>

#include "clients/analytics/Record.h"
#include "clients/analytics/Transport.h"

namespace Orvan::Analytics {

class CSDKConnector {
public:
    CSDKConnector() = default;
    virtual ~CSDKConnector() = default;
    CSDKConnector(const CSDKConnector&) = delete;
    CSDKConnector& operator=(const CSDKConnector&) = delete;

    // True when a transport was chosen (the null transport counts).
    virtual bool connect();
    // False without a transport; otherwise the transport's answer.
    virtual bool send(Record& record);
    virtual void disconnect();
    virtual std::shared_ptr<internal::ITransport> selectTransport();

    // The first transport of the list that initialises; empty when none does.
    static std::shared_ptr<internal::ITransport> findAvailableTransport(const internal::TransportList& list);
    // "__caller.name": the program's path with every backslash doubled; "__transport.name": "<name> v<version>".
    void addStandardProperties(Record& record) const;

private:
    std::shared_ptr<internal::ITransport> transport_;
};

}  // namespace Orvan::Analytics
