// Placeholder until the network commands land: every command fails without traffic.
#include "link/printer_io.h"
int CPrinterIO::CmdLanConfig(ArgVector) { return 0; }
int CPrinterIO::CmdLanConfigGet(ArgVector) { return 0; }
int CPrinterIO::CmdLanConfigSet(ArgVector) { return 0; }
