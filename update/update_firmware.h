// The update procedure: load the load file, check the printer, preserve
// its ST area, transfer the sections, finish or cancel the maintenance run,
// wait for the printer's restart, reconnect, confirm the version, remove
// the backup file and close the link.
//
// It runs on the link that identification left open. It reports file
// failures into the error record it is given and its progress to the
// progress interface (null: nowhere); it never prints.
#pragma once

class IUpdateProgress;
class UpdateErrorRecord;

// 0 when the firmware was transferred and the printer came back with the
// new version, 4 on any failure.
int RunFirmwareUpdate(UpdateErrorRecord& errors, IUpdateProgress* progress);
