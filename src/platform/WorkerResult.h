#pragma once

#include <QCoroFuture>
#include <QCoroTask>
#include <QFuture>

#include <type_traits>

// Waits for a worker thread's result without holding up the main thread,
// and moves it out. Awaiting the QFuture itself copies its result, and a
// plan or an answer of 100,000 entries copied on the main thread is a
// visible stall. The work must not throw.
template <typename T>
QCoro::Task<T> takeResultOf(QFuture<T> future)
{
    // takeResult moves only what moves without throwing; anything else
    // (a std::deque, say) it copies whole. Such a result goes behind a
    // pointer.
    static_assert(std::is_void_v<T> || std::is_nothrow_move_constructible_v<T>,
                  "a worker's result must move without throwing, or it is copied on the main thread");
    QFuture<void> finished(future);
    co_await finished;
    if constexpr (!std::is_void_v<T>)
        co_return future.takeResult();
}
