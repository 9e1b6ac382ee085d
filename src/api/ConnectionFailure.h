#pragma once

#include <QString>
#include <exception>
#include <optional>

// When the connection failed: a sign-in is made with an address just typed,
// a pass with one that already worked.
enum class ConnectionMoment { signIn, sync };

// What a failed connection to the server says to the user, in plain words
// and with what to do ("Could not reach 127.0.0.1:8765. Is the server
// running?"), rather than the socket's own text. The sign-in window and the
// sync status both word failures through this one classification. Absent
// when the failure is not one of reaching the server (the server answered,
// a file could not be read, a time-out already worded for people).
std::optional<QString> connectionFailureText(const std::exception &failure, const QString &serverURL,
                                             ConnectionMoment moment);
