// Files and the current directory, as the update procedure uses them for
// its backup file. Error codes are the system's (errno / GetLastError);
// "not found" is 2 on both platforms.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// The separator the updater puts between a directory and a file name.
extern const char kPathSeparator;

// An open file; closed by the destructor.
class File {
public:
    enum class Mode {
        kCreateAlways,  // write; created anew, truncated when it exists
        kOpenExisting,  // read; fails when it does not exist
    };
    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens path (UTF-8); on failure returns false and *error holds the
    // system error code.
    bool Open(const std::string& path, Mode mode, unsigned long* error);
    bool IsOpen() const { return handle_ != kInvalid; }
    // Size of the open file in bytes; -1 on failure.
    int64_t Size(unsigned long* error) const;
    // Writes or reads exactly n bytes; false with *error on failure (a read
    // that meets the end of the file early fails with error 38, Win32's
    // ERROR_HANDLE_EOF).
    bool Write(const void* data, size_t n, unsigned long* error);
    bool Read(void* data, size_t n, unsigned long* error);
    void Close();

private:
    static constexpr intptr_t kInvalid = -1;
    intptr_t handle_ = kInvalid;
};

// The current directory (UTF-8), or false.
bool CurrentDirectory(std::string* dir);
// Removes a file; a missing file is no error. Returns false with *error on
// another failure.
bool RemoveFile(const std::string& path, unsigned long* error);
// Full path of the running executable (UTF-8), or false.
bool ExecutablePath(std::string* path);

}  // namespace platform
