// The firmware load file and the memory copy that one update works on.
//
// Layout of the file (every number little-endian, unsigned):
//   0                 LoadFileHeader, 64 bytes: title[16], reserved[8],
//                     total size (0x18), info offset (0x1C), reserved[32]
//   info offset       LoadFileInfo, 32 bytes: section count, layout number,
//                     version text[16] (space padded), reserved[8]
//   info offset + 32  one 64-byte SectionEntry per section: tag[2],
//                     reserved[6], load address (0x08), area size (0x0C),
//                     data offset (0x10), data length (0x14), flag 'Y'/'N'
//                     (0x18), reserved
//   then per section  SectionHeader (64 bytes, at data offset - 64): tag[2],
//                     reserved[2], attribute word (0x04), format code[4]
//                     (0x08), reserved[8], class value (0x14), reserved;
//                     the data; SectionTrailer (32 bytes, at data offset +
//                     data length): sum (0x02, 16 bits), XOR (0x07)
//   last 4 bytes      not interpreted
//
// The reader never reads outside the bytes it copied: an open fails when
// the total size is 64 or less or larger than the bytes at hand, or when the
// info block, the section table or any section's header, data or trailer
// lies outside the file. Nothing else is judged here: the title, the
// placement of the sections and the trailer checksums are taken as they
// stand (the printer judges the checksums of what it receives).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "update/checksum.h"

inline constexpr uint32_t kLoadFileHeaderSize = 64;
inline constexpr uint32_t kLoadFileInfoSize = 32;
inline constexpr uint32_t kSectionEntrySize = 64;
inline constexpr uint32_t kSectionHeaderSize = 64;
inline constexpr uint32_t kSectionTrailerSize = 32;
inline constexpr uint32_t kVersionTextSize = 16;

enum class LoadImageStatus {
    kOk,
    // Not found, unusable or malformed: the update closes the link and
    // returns 4, nothing has been sent.
    kResourceMissing,
    // The memory block could not be allocated.
    kNoMemory,
};

// The memory copy of a load file. Owns its block and frees it in the
// destructor; CloseLoadImage frees it early. The accessors do not check
// bounds: indices run from 0 to SectionCount() - 1 (EntryBytes also takes
// SectionCount()). Every position they give was checked to lie inside the
// copy when it was opened, and the section count and the entries are decoded
// then: writes into the copy (the ST data, a trailer) never move a section,
// even where a malformed file lets them overlap the table.
class LoadImage {
public:
    struct Entry {
        char tag[2];
        uint32_t loadAddress;
        uint32_t areaSize;
        uint32_t dataOffset;
        uint32_t dataLength;
        uint8_t flag;  // 'Y' or 'N'
    };

    LoadImage() = default;
    LoadImage(LoadImage&&) noexcept = default;
    LoadImage& operator=(LoadImage&&) noexcept = default;
    LoadImage(const LoadImage&) = delete;
    LoadImage& operator=(const LoadImage&) = delete;

    bool IsOpen() const { return m_block != nullptr; }

    uint32_t TotalSize() const { return m_totalSize; }
    uint32_t InfoOffset() const { return m_infoOffset; }
    uint32_t SectionCount() const { return m_sectionCount; }
    uint32_t LayoutNumber() const;
    const uint8_t* VersionText() const;  // kVersionTextSize bytes, no terminator

    Entry EntryAt(uint32_t k) const;
    // The raw 64-byte SectionEntry k; k == SectionCount() gives the 64 bytes
    // right after the table, which the update uses as the first section's
    // header.
    uint8_t* EntryBytes(uint32_t k);
    uint8_t* FirstSectionHeader() { return EntryBytes(SectionCount()); }

    uint8_t* SectionHeader(uint32_t k);  // at data offset - 64
    uint8_t* Data(uint32_t k);           // at data offset
    uint8_t* Trailer(uint32_t k);        // at data offset + data length
    const uint8_t* SectionHeader(uint32_t k) const;
    const uint8_t* Data(uint32_t k) const;
    const uint8_t* Trailer(uint32_t k) const;

    // From the section header of entry k.
    uint32_t AttributeWord(uint32_t k) const;
    const uint8_t* FormatCode(uint32_t k) const;  // 4 bytes
    uint32_t ClassValue(uint32_t k) const;

    // The sum and XOR stored in the trailer of entry k, and their update
    // (the update writes them after it replaces the ST data).
    Checksum TrailerChecksum(uint32_t k) const;
    void StoreTrailerChecksum(uint32_t k, const Checksum& checksum);

    // True when at least one entry tagged "ST" has data that does not begin
    // with "DUMY" (decided when the file is opened).
    bool HasRealSt() const { return m_hasRealSt; }

    // The whole copy, TotalSize() bytes at the same offsets as in the file.
    const uint8_t* Bytes() const { return m_block.get(); }

private:
    friend LoadImageStatus OpenLoadImageFrom(const uint8_t*, size_t, LoadImage*, std::string*);
    friend void CloseLoadImage(LoadImage*);

    const uint8_t* EntryPtr(uint32_t k) const;

    std::unique_ptr<uint8_t[]> m_block;
    std::unique_ptr<Entry[]> m_entries;  // decoded when opened
    uint32_t m_totalSize = 0;
    uint32_t m_infoOffset = 0;
    uint32_t m_sectionCount = 0;
    bool m_hasRealSt = false;
};

// Copies the load file embedded in the executable (platform::
// FindEmbeddedLoadFile) into *image. *why, when given, receives the reason
// of a failure.
LoadImageStatus OpenLoadImage(LoadImage* image, std::string* why = nullptr);

// The same over any bytes (a file read from disk, a test's bytes).
LoadImageStatus OpenLoadImageFrom(const uint8_t* data, size_t size, LoadImage* image,
                                  std::string* why);

// Frees the copy; the image is then closed. Safe on a closed image.
void CloseLoadImage(LoadImage* image);
