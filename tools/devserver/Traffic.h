#pragma once

#include "DevServer.h"

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace devserver {

// Whether a request matches a fault's or a query's method and path: an
// empty method matches any, a path ending in '*' is a prefix.
bool requestMatches(const std::string &methodPattern, const std::string &pathPattern, const std::string &method,
                    const std::string &path);

// Injected faults, consumed in the order they were added.
class FaultTable {
public:
    void add(DevServer::Fault fault);
    void clear();
    // The first fault that applies to this request, counting it as used.
    std::optional<DevServer::Fault> take(const std::string &method, const std::string &path);

private:
    std::mutex m_mutex;
    std::vector<DevServer::Fault> m_faults;
};

// What came in: finished requests, and the order in which requests entered
// and left the handler, so that concurrency can be measured afterwards for
// any method and path.
class TrafficLog {
public:
    void enter(const std::string &method, const std::string &path);
    void leave(const std::string &method, const std::string &path);
    void record(DevServer::RecordedRequest request);
    std::vector<DevServer::RecordedRequest> requests() const;
    int peakInFlight(const std::string &method, const std::string &path) const;
    void clear();

private:
    struct Transition {
        std::string method, path;
        int delta;
    };
    mutable std::mutex m_mutex;
    std::vector<DevServer::RecordedRequest> m_requests;
    std::vector<Transition> m_transitions;
};

} // namespace devserver
