#include "tests/support/build_path.h"

namespace testsupport {

std::string BuildPath(const std::string& path) {
#ifdef _WIN32
    if (path.empty() || path[0] != '/') return path;
    std::string out = "Z:" + path;
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
#else
    return path;
#endif
}

}  // namespace testsupport
