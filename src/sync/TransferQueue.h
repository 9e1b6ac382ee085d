#pragma once

#include <QCoroTask>
#include <coroutine>
#include <exception>
#include <utility>
#include <vector>

// Counts the transfers of one queue that are in flight and lets the queue's
// runner wait, without polling, until a slot is free or all have ended.
class TransferSlots {
public:
    explicit TransferSlots(int limit) : m_limit(limit) {}
    TransferSlots(const TransferSlots &) = delete;
    TransferSlots &operator=(const TransferSlots &) = delete;

    struct Wait {
        TransferSlots &inFlight;
        int below; // resumes once fewer than this many are running
        bool await_ready() const noexcept { return inFlight.m_running < below; }
        void await_suspend(std::coroutine_handle<> waiter) noexcept
        {
            inFlight.m_waiter = waiter;
            inFlight.m_resumeBelow = below;
        }
        void await_resume() const noexcept {}
    };

    // Ready as soon as fewer than `limit` transfers run.
    Wait vacancy() { return Wait{*this, m_limit}; }
    // Ready once no transfer runs.
    Wait drained() { return Wait{*this, 1}; }

    void started() { ++m_running; }
    // Resumes the waiting runner when its condition now holds. The runner may
    // finish (and free this object) inside resume(), so nothing is touched
    // after it.
    void finished()
    {
        --m_running;
        if (m_waiter && m_running < m_resumeBelow)
            std::exchange(m_waiter, nullptr).resume();
    }

    int running() const { return m_running; }

private:
    int m_limit;
    int m_running = 0;
    int m_resumeBelow = 0;
    std::coroutine_handle<> m_waiter;
};

// Runs operation(item) for every item in order with at most `limit` in
// flight: the first `limit` start at once, each later one as soon as any
// running one ends. Returns when every operation has ended, whatever its
// outcome; results are not collected.
//
// `items` is read as the operations start, not copied (a first sync lists
// 100,000 of them): it must stay alive and unchanged until the task ends.
template <typename Item, typename Operation>
QCoro::Task<void> runBounded(const std::vector<Item> &items, int limit, Operation operation)
{
    TransferSlots inFlight(limit);
    for (const Item &item : items) {
        co_await inFlight.vacancy();
        inFlight.started();
        // The continuation runs when the operation ends, or at once when it
        // ended without suspending.
        operation(item).then([&inFlight] { inFlight.finished(); },
                             [&inFlight](const std::exception &) { inFlight.finished(); });
    }
    co_await inFlight.drained();
}
