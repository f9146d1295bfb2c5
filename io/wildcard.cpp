// The wildcard rule of the Windows file search, for hosts that do not have one.
#include <cctype>

#include "io/directory_scan.h"

bool WildcardMatches(const char* pattern, const char* name) {
    while (*pattern) {
        if (*pattern == '?') {
            // A run of `?` takes one character each, but gives up at a period or the end of the name.
            while (*pattern == '?') {
                if (*name && *name != '.') ++name;
                ++pattern;
            }
            continue;
        }
        if (std::toupper(static_cast<unsigned char>(*pattern)) != std::toupper(static_cast<unsigned char>(*name))) {
            return false;
        }
        ++pattern;
        ++name;
    }
    return *name == 0;
}
