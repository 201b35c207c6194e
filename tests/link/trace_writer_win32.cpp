// A program that writes two trace lines of the link and ends: a send and a
// receive without a link, whose messages carry Japanese text. The debug
// output test runs it under the Win32 debugging API.
#include <cstdint>

#include "link/printer_io.h"

int main() {
    uint8_t byte = 0;
    g_printerIO.Send(&byte, 1);
    g_printerIO.Recv(&byte, 1);
    return 0;
}
