#pragma once

#include <QString>
#include <exception>

// The sentence a user reads for a failure caught as an exception: the
// description of the project's own errors, what() of any other.
QString errorText(const std::exception &error);
