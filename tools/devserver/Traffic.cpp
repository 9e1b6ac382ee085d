#include "Traffic.h"

#include <algorithm>

namespace devserver {

bool requestMatches(const std::string &methodPattern, const std::string &pathPattern, const std::string &method,
                    const std::string &path)
{
    if (!methodPattern.empty() && methodPattern != method)
        return false;
    if (!pathPattern.empty() && pathPattern.back() == '*')
        return path.compare(0, pathPattern.size() - 1, pathPattern, 0, pathPattern.size() - 1) == 0;
    return pathPattern == path;
}

void FaultTable::add(DevServer::Fault fault)
{
    if (fault.count == 0)
        return;
    std::lock_guard lock(m_mutex);
    m_faults.push_back(std::move(fault));
}

void FaultTable::clear()
{
    std::lock_guard lock(m_mutex);
    m_faults.clear();
}

std::optional<DevServer::Fault> FaultTable::take(const std::string &method, const std::string &path)
{
    std::lock_guard lock(m_mutex);
    for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
        if (!requestMatches(it->method, it->path, method, path))
            continue;
        DevServer::Fault fault = *it;
        if (it->count > 0 && --it->count == 0)
            m_faults.erase(it);
        return fault;
    }
    return std::nullopt;
}

void TrafficLog::enter(const std::string &method, const std::string &path)
{
    std::lock_guard lock(m_mutex);
    m_transitions.push_back({method, path, +1});
}

void TrafficLog::leave(const std::string &method, const std::string &path)
{
    std::lock_guard lock(m_mutex);
    m_transitions.push_back({method, path, -1});
}

void TrafficLog::record(DevServer::RecordedRequest request)
{
    std::lock_guard lock(m_mutex);
    m_requests.push_back(std::move(request));
}

std::vector<DevServer::RecordedRequest> TrafficLog::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

int TrafficLog::peakInFlight(const std::string &method, const std::string &path) const
{
    std::lock_guard lock(m_mutex);
    int current = 0;
    int peak = 0;
    for (const auto &transition : m_transitions) {
        if (!requestMatches(method, path, transition.method, transition.path))
            continue;
        // A request that entered before the last clear() may leave after it.
        current = std::max(0, current + transition.delta);
        peak = std::max(peak, current);
    }
    return peak;
}

void TrafficLog::clear()
{
    std::lock_guard lock(m_mutex);
    m_requests.clear();
    m_transitions.clear();
}

} // namespace devserver
