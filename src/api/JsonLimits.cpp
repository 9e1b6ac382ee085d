#include "api/JsonLimits.h"

namespace JsonLimits {

bool nestingWithin(const char *data, std::size_t size, int maxDepth)
{
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < size; ++i) {
        const char c = data[i];
        if (inString) {
            if (c == '\\')
                ++i; // the escaped character cannot end the string
            else if (c == '"')
                inString = false;
            continue;
        }
        switch (c) {
        case '"':
            inString = true;
            break;
        case '[':
        case '{':
            if (++depth > maxDepth)
                return false;
            break;
        case ']':
        case '}':
            --depth;
            break;
        default:
            break;
        }
    }
    return true;
}

} // namespace JsonLimits
