#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace devserver {

// Microseconds since the Unix epoch, UTC.
using Micros = int64_t;

Micros systemMicros();
// "2026-12-06T19:20:00Z": the whole-second form of document time stamps.
std::string secondsText(Micros time);
// "2026-12-06T19:20:00.123456Z": the server time handed back as "since".
std::string microsText(Micros time);
// ISO 8601 date and time with optional fraction and a zone ("Z" or an
// offset such as "+01:00" or "+0100"); nullopt when the text is not one.
std::optional<Micros> parseTime(const std::string &text);

} // namespace devserver
