// quillon --restore-st FILE: an archived copy of a printer's ST data
// written back into the printer, by the update engine with the frames,
// checks and failure handling of an update (only the ST section goes).
#pragma once

#include <cstdio>
#include <string>

#include "app/quillon_app.h"
#include "update/update_firmware.h"

// Reads FILE into *request and takes the printer's identifier from the
// file's name (<identifier>-<UTC time>[-n].qfw). anyPrinter (--force): a
// copy of another printer, or a file not named like an archive file, is
// written all the same. False with a message when FILE is missing, not a
// regular file, empty, larger than any ST area, or unnamed without --force.
bool LoadStCopy(const std::string& path, bool anyPrinter, StRestoreRequest* request,
                std::string* error);

// After the dialog ended: what the front end says of the restore (a
// restore has no message of its own in the dialog). Success and refusals
// are told here; failures of the run were told by the dialog's messages.
void ReportStRestore(const CQuillonApp& app, const std::string& path,
                     const StRestoreRequest& request, std::FILE* out, std::FILE* err);
