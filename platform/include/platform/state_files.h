// The per-user folder for what must outlive a run of the updater (the
// archive of the printers' own ST data), and files written into it whole
// or not at all. Error codes are the system's (errno / GetLastError).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// The user's state folder (UTF-8), not created: on POSIX $XDG_STATE_HOME
// when it holds an absolute path, else $HOME/.local/state (the home folder
// from the password database when HOME is not set); on Windows the local
// application data folder (%LOCALAPPDATA%). False when there is none.
bool UserStateDirectory(std::string* dir);

// Tests: the state folder to report instead of the user's own (for every
// caller in this process); an empty text restores the user's own.
void SetUserStateDirectoryForTest(const std::string& dir);

// Creates dir and every missing folder above it, each new one open to the
// user only (0700 on POSIX); folders that exist are left as they are. True
// when dir exists as a folder afterwards; false with *error otherwise.
bool CreateDirectories(const std::string& dir, unsigned long* error);

// Writes n bytes into a new file dir/<stem><ext>, completely and durably:
// to a temporary file in the same folder, flushed to the disk, then moved
// to its name. An existing file is never replaced: when the name is taken
// the next of <stem>-2<ext>, <stem>-3<ext>, ... is used. *path receives the
// full path written. On failure nothing is left under a final name (a
// killed process may leave a temporary ".tmp" file, never a half file with
// the final name) and *error holds the system's code.
bool WriteNewFileDurably(const std::string& dir, const std::string& stem, const std::string& ext,
                         const uint8_t* data, size_t n, std::string* path, unsigned long* error);

}  // namespace platform
