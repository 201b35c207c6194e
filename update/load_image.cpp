#include "update/load_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "link/byte_order.h"
#include "platform/resource.h"

namespace {

constexpr uint8_t kPlaceholderMark[4] = {'D', 'U', 'M', 'Y'};
// The copy is made in pieces of at most this many bytes.
constexpr size_t kCopyPiece = 65535;

std::string Hex(uint64_t v) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(v));
    return text;
}

bool Fail(std::string* why, const std::string& reason) {
    if (why != nullptr) *why = reason;
    return false;
}

// Checks that every structure the accessors reach lies inside the first
// total-size bytes. All arithmetic is 64-bit so that no field can wrap.
bool CheckLayout(const uint8_t* data, uint64_t total, std::string* why) {
    const uint64_t infoOffset = GetLE32(data + 0x1C);
    if (infoOffset < kLoadFileHeaderSize)
        return Fail(why, "info offset " + Hex(infoOffset) + " lies inside the file header");
    if (infoOffset + kLoadFileInfoSize > total)
        return Fail(why, "info block at " + Hex(infoOffset) + " ends past the total size " +
                             Hex(total));
    const uint8_t* info = data + infoOffset;
    const uint64_t count = GetLE32(info);
    const uint64_t tableStart = infoOffset + kLoadFileInfoSize;
    const uint64_t tableEnd = tableStart + count * kSectionEntrySize;
    if (tableEnd > total)
        return Fail(why, "section table of " + std::to_string(count) + " entries ends at " +
                             Hex(tableEnd) + ", past the total size " + Hex(total));
    if (count > 0 && tableEnd + kSectionHeaderSize > total)
        return Fail(why, "the 64 bytes after the section table end past the total size " +
                             Hex(total));
    for (uint64_t k = 0; k < count; ++k) {
        const uint8_t* entry = data + tableStart + k * kSectionEntrySize;
        const uint64_t dataOffset = GetLE32(entry + 0x10);
        const uint64_t dataLength = GetLE32(entry + 0x14);
        const std::string name = "section " + std::to_string(k);
        if (dataOffset < kSectionHeaderSize)
            return Fail(why, name + ": data offset " + Hex(dataOffset) +
                                 " leaves no room for its header");
        if (dataOffset + dataLength + kSectionTrailerSize > total)
            return Fail(why, name + ": data at " + Hex(dataOffset) + " of length " +
                                 Hex(dataLength) + " with its trailer ends past the total size " +
                                 Hex(total));
    }
    return true;
}

}  // namespace

uint32_t LoadImage::LayoutNumber() const { return GetLE32(m_block.get() + m_infoOffset + 4); }

const uint8_t* LoadImage::VersionText() const { return m_block.get() + m_infoOffset + 8; }

const uint8_t* LoadImage::EntryPtr(uint32_t k) const {
    return m_block.get() + m_infoOffset + kLoadFileInfoSize + size_t{k} * kSectionEntrySize;
}

uint8_t* LoadImage::EntryBytes(uint32_t k) { return const_cast<uint8_t*>(EntryPtr(k)); }

LoadImage::Entry LoadImage::EntryAt(uint32_t k) const { return m_entries[k]; }

const uint8_t* LoadImage::SectionHeader(uint32_t k) const {
    return m_block.get() + (m_entries[k].dataOffset - kSectionHeaderSize);
}

const uint8_t* LoadImage::Data(uint32_t k) const {
    return m_block.get() + m_entries[k].dataOffset;
}

const uint8_t* LoadImage::Trailer(uint32_t k) const {
    return m_block.get() + (size_t{m_entries[k].dataOffset} + m_entries[k].dataLength);
}

uint8_t* LoadImage::SectionHeader(uint32_t k) {
    return const_cast<uint8_t*>(std::as_const(*this).SectionHeader(k));
}

uint8_t* LoadImage::Data(uint32_t k) { return const_cast<uint8_t*>(std::as_const(*this).Data(k)); }

uint8_t* LoadImage::Trailer(uint32_t k) {
    return const_cast<uint8_t*>(std::as_const(*this).Trailer(k));
}

uint32_t LoadImage::AttributeWord(uint32_t k) const { return GetLE32(SectionHeader(k) + 0x04); }

const uint8_t* LoadImage::FormatCode(uint32_t k) const { return SectionHeader(k) + 0x08; }

uint32_t LoadImage::ClassValue(uint32_t k) const { return GetLE32(SectionHeader(k) + 0x14); }

Checksum LoadImage::TrailerChecksum(uint32_t k) const {
    const uint8_t* t = Trailer(k);
    return Checksum{GetLE16(t + 0x02), t[0x07]};
}

void LoadImage::StoreTrailerChecksum(uint32_t k, const Checksum& checksum) {
    uint8_t* t = Trailer(k);
    PutLE16(t + 0x02, checksum.sum);
    t[0x07] = checksum.xorValue;
}

LoadImageStatus OpenLoadImageFrom(const uint8_t* data, size_t size, LoadImage* image,
                                  std::string* why) {
    CloseLoadImage(image);
    if (data == nullptr || size < kLoadFileHeaderSize) {
        Fail(why, "the file holds " + std::to_string(data == nullptr ? 0 : size) +
                      " bytes, fewer than its 64-byte header");
        return LoadImageStatus::kResourceMissing;
    }
    const uint64_t total = GetLE32(data + 0x18);
    if (total <= kLoadFileHeaderSize) {
        Fail(why, "total size " + std::to_string(total) +
                      " leaves no room for the info block and the section table");
        return LoadImageStatus::kResourceMissing;
    }
    if (total > size) {
        Fail(why, "total size " + std::to_string(total) + " is larger than the " +
                      std::to_string(size) + " bytes at hand");
        return LoadImageStatus::kResourceMissing;
    }
    if (!CheckLayout(data, total, why)) return LoadImageStatus::kResourceMissing;

    // With no section, the 64 bytes after the (empty) table may lie past the
    // end of the file; the block is padded with zeros so that the first
    // section's header always lies inside it.
    const uint32_t infoOffset = GetLE32(data + 0x1C);
    const uint64_t headerSlotEnd =
        uint64_t{infoOffset} + kLoadFileInfoSize + kSectionHeaderSize;
    const size_t blockSize = static_cast<size_t>(std::max<uint64_t>(total, headerSlotEnd));
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[blockSize]);
    if (!block) {
        Fail(why, "no memory for a block of " + std::to_string(blockSize) + " bytes");
        return LoadImageStatus::kNoMemory;
    }
    std::memset(block.get() + total, 0, blockSize - total);
    for (size_t at = 0; at < total; at += kCopyPiece)
        std::memcpy(block.get() + at, data + at, std::min<size_t>(kCopyPiece, total - at));

    // The entries as checked, decoded once from the copy. A file without
    // sections still gets one zero entry, so that entry 0 reads as empty.
    const uint32_t count = GetLE32(block.get() + infoOffset);
    std::unique_ptr<LoadImage::Entry[]> entries(
        new (std::nothrow) LoadImage::Entry[std::max<uint32_t>(count, 1)]());
    if (!entries) {
        Fail(why, "no memory for " + std::to_string(count) + " section entries");
        return LoadImageStatus::kNoMemory;
    }
    for (uint32_t k = 0; k < count; ++k) {
        const uint8_t* p =
            block.get() + infoOffset + kLoadFileInfoSize + size_t{k} * kSectionEntrySize;
        LoadImage::Entry& e = entries[k];
        e.tag[0] = static_cast<char>(p[0]);
        e.tag[1] = static_cast<char>(p[1]);
        e.loadAddress = GetLE32(p + 0x08);
        e.areaSize = GetLE32(p + 0x0C);
        e.dataOffset = GetLE32(p + 0x10);
        e.dataLength = GetLE32(p + 0x14);
        e.flag = p[0x18];
    }

    image->m_block = std::move(block);
    image->m_entries = std::move(entries);
    image->m_totalSize = static_cast<uint32_t>(total);
    image->m_infoOffset = infoOffset;
    image->m_sectionCount = count;

    image->m_hasRealSt = false;
    for (uint32_t k = 0; k < count; ++k) {
        const LoadImage::Entry e = image->EntryAt(k);
        if (e.tag[0] != 'S' || e.tag[1] != 'T') continue;
        // Data shorter than the mark cannot begin with it: such a section
        // holds real content, however little.
        if (e.dataLength < sizeof kPlaceholderMark ||
            std::memcmp(image->Data(k), kPlaceholderMark, sizeof kPlaceholderMark) != 0) {
            image->m_hasRealSt = true;
            break;
        }
    }
    return LoadImageStatus::kOk;
}

LoadImageStatus OpenLoadImage(LoadImage* image, std::string* why) {
    const uint8_t* data = nullptr;
    size_t size = 0;
    if (!platform::FindEmbeddedLoadFile(&data, &size)) {
        CloseLoadImage(image);
        Fail(why, "the embedded load file cannot be found");
        return LoadImageStatus::kResourceMissing;
    }
    return OpenLoadImageFrom(data, size, image, why);
}

void CloseLoadImage(LoadImage* image) {
    image->m_block.reset();
    image->m_entries.reset();
    image->m_totalSize = 0;
    image->m_infoOffset = 0;
    image->m_sectionCount = 0;
    image->m_hasRealSt = false;
}
