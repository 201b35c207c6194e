// The archive of the printers' own ST data: every ST area read back from a
// printer is kept in a per-user folder that the updater never cleans, one
// file per read-back, named <identifier>-<UTC time>.qfw (a "-2", "-3" ...
// before the extension when the name is taken). A file holds the raw bytes
// of the area and nothing else, like the working backup file, so that it
// can be written back into the printer (quillon --restore-st FILE).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

// The archive folder under the user's state folder: quillon/st (on
// Windows quillon\st under the local application data folder). False when
// the platform knows no state folder.
bool DefaultStArchiveFolder(std::string* folder);

// The UTC time as it goes into an archive name: "20261210T121500Z".
std::string ArchiveTimeText(std::time_t t);

// The file name's stem without the number suffix: <identifier>-<time>.
std::string StArchiveStem(const std::string& identifier, const std::string& timeText);

// Writes the area's bytes into a new archive file in folder, which must
// exist (platform::CreateDirectories makes it). The file is complete and flushed to the
// disk before it gets its name; an existing file is never replaced. *path
// receives the file's full path. False with the system's error code.
bool WriteStArchive(const std::string& folder, const std::string& identifier, std::time_t t,
                    const uint8_t* data, size_t n, std::string* path, unsigned long* error);

// The printer identifier that an archive file's name carries: the part of
// the name (the path's last component) before "-<time>", the time being 16
// characters "YYYYMMDDTHHMMSSZ", optionally followed by "-<number>", then
// ".qfw". False when the name has another shape.
bool StArchiveIdentifier(const std::string& path, std::string* identifier);
