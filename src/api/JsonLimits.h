#pragma once

#include <cstddef>

// Bounds on the JSON the client reads from places it does not control (the
// service's answers, its own files after a hand edit).
namespace JsonLimits {

// No body or file the client reads nests deeper than a handful of levels;
// a deeper one is refused before it is parsed.
inline constexpr int maxNesting = 64;

// Whether the arrays and objects of `data` nest at most `maxDepth` deep.
// A linear scan that skips strings (with their escapes); it does not check
// that the text is JSON, which the parser does afterwards.
bool nestingWithin(const char *data, std::size_t size, int maxDepth = maxNesting);

} // namespace JsonLimits
