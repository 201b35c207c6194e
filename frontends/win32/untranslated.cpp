// The Windows program's own few texts (its command-line help) are not
// translated: the system's messages are Japanese resources, and the help
// that the program shares with the terminal front end stays as written.
#include "frontends/terminal/translation.h"

void InitTranslation() {}

const char* Tr(const char* text) { return text; }
