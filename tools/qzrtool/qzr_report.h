// What qzrtool says about a load file: a description of every field, and
// the list of faults that make the file unfit to send.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

// Writes the header, the info block and every section of the file to out.
// Returns false, after writing what it could, with the reason in *error when
// the file cannot be opened as a load file.
bool DescribeLoadFile(const uint8_t* data, size_t size, std::ostream& out, std::string* error);

// The faults of the file: layout (sections out of place, a header tag that
// differs from its entry, a flag other than 'Y'/'N', data longer than its
// area, no section at all) and every trailer checksum that does not match
// its data. Empty when the file is sound.
std::vector<std::string> FindLoadFileFaults(const uint8_t* data, size_t size);
