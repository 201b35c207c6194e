// The update procedure: load the load file, check the printer, preserve
// its ST area, transfer the sections, finish or cancel the maintenance run,
// wait for the printer's restart, reconnect, confirm the version, remove
// the backup file and close the link.
//
// It runs on the link that identification left open. It reports file
// failures into the error record it is given and its progress to the
// progress interface (null: nowhere); it never prints.
//
// Every ST area it reads back is also archived (update/st_archive.h)
// before anything is written into the printer; a run that cannot archive
// writes nothing. The same procedure writes an archived ST copy back into
// a printer (a service restore): only the ST section goes, with the frames,
// checks and failure handling of an update.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class IUpdateProgress;
class UpdateErrorRecord;

// An archived ST copy to write back instead of installing the firmware.
struct StRestoreRequest {
    std::vector<uint8_t> data;  // the area's bytes, as archived
    std::string identifier;     // the printer the copy came from
    bool anyPrinter = false;    // true: the identifier is not compared
};

struct UpdateOptions {
    // Where the printers' ST data is archived; empty: the per-user folder
    // (DefaultStArchiveFolder).
    std::string archiveFolder;
    // Null: a firmware update. Otherwise the ST copy to restore.
    const StRestoreRequest* restore = nullptr;
};

// Why a restore was refused before anything was written.
enum class RestoreRefusal {
    kNone,
    kOtherPrinter,  // the copy names another printer
    kNoStArea,      // the printer reports no ST area
    kTooLarge,      // the copy does not fit the printer's ST area
    kEmpty,         // the copy holds no byte
};

// What a run leaves for its caller besides the result.
struct UpdateReport {
    // The printer's identifier (system information bytes 42 to 49).
    std::string identifier;
    // Archive files written by this run, in order.
    std::vector<std::string> archived;
    // A frame that may change the printer's ST area was sent (GS I, or
    // GS Q of an ST section): from here on a failed run may have cost the
    // printer its ST data, and the archived copy is what is left of it.
    bool stWriteBegun = false;
    RestoreRefusal refusal = RestoreRefusal::kNone;
    // Size of the printer's first ST area (bytes 12 to 15 of its entry),
    // once its table has been read; -1 before.
    int64_t stAreaSize = -1;
};

// 0 when the firmware was transferred and the printer came back with the
// new version, 4 on any failure.
int RunFirmwareUpdate(UpdateErrorRecord& errors, IUpdateProgress* progress);
// The same with options; *report (may be null) receives what the run did.
// A restore returns 0 when the copy was written and the printer came back
// with the version it had.
int RunFirmwareUpdate(UpdateErrorRecord& errors, IUpdateProgress* progress,
                      const UpdateOptions& options, UpdateReport* report);
