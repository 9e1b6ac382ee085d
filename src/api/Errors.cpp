#include "api/Errors.h"

APIError::APIError(Kind kind, const QString &description) : Error(description), m_kind(kind) {}

APIError APIError::serverError(const QString &message)
{
    return APIError(Kind::serverError, message);
}

APIError APIError::networkError(const QString &underlyingDescription)
{
    return APIError(Kind::networkError, underlyingDescription);
}

APIError APIError::unauthorized()
{
    return APIError(Kind::unauthorized, QStringLiteral("Invalid credentials"));
}

APIError APIError::invalidResponse()
{
    return APIError(Kind::invalidResponse, QStringLiteral("Invalid server response"));
}

NetworkError::NetworkError(int code, const QString &description) : Error(description), m_code(code) {}
