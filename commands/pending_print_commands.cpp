// Placeholder until the print-job commands land: every command fails without traffic.
#include "link/printer_io.h"
int CPrinterIO::CmdReset(ArgVector) { return 0; }
int CPrinterIO::CmdPrint(ArgVector) { return 0; }
int CPrinterIO::CmdCopy(ArgVector) { return 0; }
int CPrinterIO::CmdImage(ArgVector) { return 0; }
int CPrinterIO::CmdChar(ArgVector) { return 0; }
int CPrinterIO::CmdHologram(ArgVector) { return 0; }
int CPrinterIO::CmdEncodeData(ArgVector) { return 0; }
int CPrinterIO::CmdReverse(ArgVector) { return 0; }
int CPrinterIO::CmdDma2(ArgVector) { return 0; }
int CPrinterIO::CmdNotSupported(ArgVector) { return 0; }
