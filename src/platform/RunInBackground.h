#pragma once

#include "platform/BackgroundPriority.h"

#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <utility>

// How the client hands work to a thread pool: always below the main thread,
// so that no worker added later can compete with the interface by mistake.
template <typename Work>
auto runInBackground(QThreadPool *pool, Work work)
{
    return QtConcurrent::run(pool, inBackground(std::move(work)));
}

template <typename Work>
auto runInBackground(Work work)
{
    return runInBackground(QThreadPool::globalInstance(), std::move(work));
}
