// Scenario files: a virtual printer described in JSON.
//
// Every key is optional; what is left out keeps the healthy default.
//
//   {
//     "description": "free text, ignored",
//     "version": "1.3",                 // up to 4 characters, blank-padded
//     "identifier": "ZKQ00001",         // up to 8 characters
//     "systemInfo": "00 11 ...",        // bytes (see below), at most 51
//     "status": "...",                  // at most 60
//     "busyPolls": 2,
//     "errorInfo": "...", "productInfo": "...", "netSettings": "...",
//     "printerData": "...", "log": {"fill": 65, "size": 4096},
//     "reserveResult": 1,
//     "searchRecords": ["<32 bytes>", ...],
//     "layout": 6, "imageVersion": "1.2", "classByte": 1,
//     "areas": [{"tag": "MC", "attribute": 1, "loadAddress": "0x10000",
//                "areaSize": 1179648, "data": {"fill": 255, "size": 0}}, ...],
//     "noAreas": false,                 // true: an empty table (with no "areas")
//     "st": "...",                      // the ST area's content
//     "maintenanceBusyPolls": 2, "maintenanceBusyMs": 0,
//     "startCondition": 1,              // 128: GS E reports the failed condition
//     "busyPollsAfter": {"I": 2, "N": 2, "Q": 2, "S": 2, "U": 2, "W": 2},
//     "finishMs": 1000, "finishBusyPolls": 0,
//     "restartDelayMs": 15000, "dropReturnMs": 15000,
//     "flashErase": false,              // true: GS Q (and GS I for the areas
//                                       // it moves) erases before writing
//     "faults": [{"letter": "R", "introducer": "GS", "occurrence": 3,
//                 "action": "nak"},
//                {"atFrame": 12, "action": "pieces", "pieceSize": 5}]
//   }
//
// Bytes are a hex string (blanks between bytes allowed) or
// {"fill": BYTE, "size": N}. Numbers are JSON whole numbers or texts in
// decimal or "0x" hex. Fault actions: "drop", "nak", "silent", "pieces",
// "overlong"; introducer "FS", "GS" or the byte; letter one character or the
// byte; atFrame 0 (or absent) selects by introducer, letter and occurrence.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "sim/engine/scenario.h"

namespace sim {

// Fills *out from JSON text, starting from the defaults. On failure returns
// false with a message that names the offending key ("areas[1].areaSize").
bool ScenarioFromJsonText(const std::string& text, Scenario* out, std::string* error);
bool ScenarioFromJson(const nlohmann::json& doc, Scenario* out, std::string* error);
// Reads a scenario file; the message also names the file.
bool LoadScenarioFile(const std::string& path, Scenario* out, std::string* error);

// The scenario as a document that ScenarioFromJson reads back unchanged.
nlohmann::json ScenarioToJson(const Scenario& scenario);

}  // namespace sim
