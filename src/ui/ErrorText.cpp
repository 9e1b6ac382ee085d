#include "ui/ErrorText.h"

#include "api/Errors.h"

QString errorText(const std::exception &error)
{
    if (const auto *own = dynamic_cast<const Error *>(&error))
        return own->description();
    return QString::fromUtf8(error.what());
}
