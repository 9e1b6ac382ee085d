#pragma once

#include "api/ConnectionFailure.h"
#include "api/Errors.h"

#include <QString>
#include <exception>

// The sentence a failure carries, as the log and the status line show it.
inline QString failureText(const std::exception &failure)
{
    if (const auto *error = dynamic_cast<const Error *>(&failure))
        return error->description();
    return QString::fromUtf8(failure.what());
}

// The same for what the user reads of a pass: a server that could not be
// reached is said in plain words with what to do, not in the socket's own.
inline QString failureText(const std::exception &failure, const QString &serverURL)
{
    return connectionFailureText(failure, serverURL, ConnectionMoment::sync).value_or(failureText(failure));
}
