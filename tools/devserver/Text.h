#pragma once

#include <string>

namespace devserver {

std::string lowered(std::string text);
std::string trimmed(const std::string &text); // without surrounding blanks, tabs and CR
int hexValue(char c);                         // -1 for a non-hex digit
// %XX sequences decoded; '+' is left as it is.
std::string percentDecoded(const std::string &text);

} // namespace devserver
