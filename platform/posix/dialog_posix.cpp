// The window side of the dialog framework on POSIX: the terminal front end
// has no top-level windows to search.
#include "platform/dialog.h"

namespace platform {

bool ActivateWindowTitled(const std::string&) { return false; }

void InitDialogControls() {}

}  // namespace platform
