#pragma once

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
