// Paths of build outputs (programs, test libraries) that CMake compiles
// into a test, as the test process must spell them.
//
// A Windows test under wine gets the host's paths ("/work/.../x.dll"),
// which Windows reads relative to the current drive; they name the same
// file only through wine's drive Z:, which maps the host's root. So on
// Windows an absolute host path becomes "Z:\work\...\x.dll"; everything
// else is left as it is.
#pragma once

#include <string>

namespace testsupport {

std::string BuildPath(const std::string& path);

}  // namespace testsupport
