#include "tools/qzrtool/qzr_report.h"

#include <cstdio>
#include <cstring>

#include "link/byte_order.h"
#include "update/checksum.h"
#include "update/load_image.h"

namespace {

std::string Hex(uint64_t v, int digits = 0) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(v));
    return text;
}

// Printable ASCII as it stands, anything else as \xNN.
std::string Printable(const uint8_t* p, size_t n) {
    std::string text;
    for (size_t i = 0; i < n; ++i) {
        if (p[i] >= 0x20 && p[i] < 0x7F && p[i] != '\\') {
            text += static_cast<char>(p[i]);
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02X", p[i]);
            text += esc;
        }
    }
    return text;
}

std::string Tag(const LoadImage::Entry& e) {
    const uint8_t bytes[2] = {static_cast<uint8_t>(e.tag[0]), static_cast<uint8_t>(e.tag[1])};
    return Printable(bytes, 2);
}

std::string SectionName(uint32_t k, const LoadImage::Entry& e) {
    return "section " + std::to_string(k) + " (" + Tag(e) + ")";
}

bool IsPlaceholder(const LoadImage& image, uint32_t k) {
    const LoadImage::Entry e = image.EntryAt(k);
    return e.dataLength >= 4 && std::memcmp(image.Data(k), "DUMY", 4) == 0;
}

}  // namespace

bool DescribeLoadFile(const uint8_t* data, size_t size, std::ostream& out, std::string* error) {
    out << "file size:       " << size << " bytes\n";
    if (size >= kLoadFileHeaderSize) {
        out << "title:           \"" << Printable(data, 16) << "\"\n"
            << "total size:      " << GetLE32(data + 0x18) << " (" << Hex(GetLE32(data + 0x18))
            << ")\n"
            << "info offset:     " << Hex(GetLE32(data + 0x1C)) << "\n";
    }
    LoadImage image;
    std::string why;
    if (OpenLoadImageFrom(data, size, &image, &why) != LoadImageStatus::kOk) {
        *error = "not a usable load file: " + why;
        return false;
    }
    const uint32_t count = image.SectionCount();
    out << "section count:   " << count << "\n"
        << "layout number:   " << image.LayoutNumber() << "\n"
        << "version text:    \"" << Printable(image.VersionText(), kVersionTextSize) << "\"\n";
    for (uint32_t k = 0; k < count; ++k) {
        const LoadImage::Entry e = image.EntryAt(k);
        const Checksum stored = image.TrailerChecksum(k);
        const Checksum actual = ComputeChecksum(image.Data(k), e.dataLength);
        const uint8_t* header = image.SectionHeader(k);
        out << "section " << k << ":\n"
            << "  tag:           " << Tag(e) << "\n"
            << "  load address:  " << Hex(e.loadAddress, 8) << "\n"
            << "  area size:     " << Hex(e.areaSize) << " (" << e.areaSize << ")\n"
            << "  data offset:   " << Hex(e.dataOffset) << "\n"
            << "  data length:   " << Hex(e.dataLength) << " (" << e.dataLength << ")\n"
            << "  flag:          " << Printable(&e.flag, 1) << "\n"
            << "  header at:     " << Hex(e.dataOffset - kSectionHeaderSize) << " (tag "
            << Printable(header, 2) << ")\n"
            << "  attribute:     " << image.AttributeWord(k) << "\n"
            << "  format:        \"" << Printable(image.FormatCode(k), 4) << "\"\n"
            << "  class:         " << image.ClassValue(k) << "\n"
            << "  trailer at:    " << Hex(uint64_t{e.dataOffset} + e.dataLength) << "\n"
            << "  sum:           " << Hex(stored.sum, 4)
            << (stored.sum == actual.sum ? " (matches)" : " (data gives " + Hex(actual.sum, 4) + ")")
            << "\n"
            << "  xor:           " << Hex(stored.xorValue, 2)
            << (stored.xorValue == actual.xorValue ? " (matches)"
                                                   : " (data gives " + Hex(actual.xorValue, 2) + ")")
            << "\n";
        if (e.tag[0] == 'S' && e.tag[1] == 'T')
            out << "  placeholder:   " << (IsPlaceholder(image, k) ? "yes" : "no") << "\n";
    }
    out << "hasRealSt:       " << (image.HasRealSt() ? "true" : "false") << "\n";
    if (image.TotalSize() >= 4) {
        const uint8_t* last = image.Bytes() + image.TotalSize() - 4;
        char text[16];
        std::snprintf(text, sizeof text, "%02X %02X %02X %02X", last[0], last[1], last[2], last[3]);
        out << "last 4 bytes:    " << text << "\n";
    }
    return true;
}

std::vector<std::string> FindLoadFileFaults(const uint8_t* data, size_t size) {
    std::vector<std::string> faults;
    LoadImage image;
    std::string why;
    if (OpenLoadImageFrom(data, size, &image, &why) != LoadImageStatus::kOk) {
        faults.push_back("not a usable load file: " + why);
        return faults;
    }
    const uint32_t count = image.SectionCount();
    if (count == 0) {
        faults.push_back("the file holds no section");
        return faults;
    }
    // The sections follow the table back to back, each as header, data and
    // trailer; the file ends 4 bytes after the last trailer.
    uint64_t expected = uint64_t{image.InfoOffset()} + kLoadFileInfoSize +
                        uint64_t{count} * kSectionEntrySize + kSectionHeaderSize;
    for (uint32_t k = 0; k < count; ++k) {
        const LoadImage::Entry e = image.EntryAt(k);
        const std::string name = SectionName(k, e);
        if (e.dataOffset != expected)
            faults.push_back(name + ": data at " + Hex(e.dataOffset) + ", expected at " +
                             Hex(expected) +
                             (k == 0 ? " (its header must follow the section table)"
                                     : " (right after the previous section's trailer)"));
        const uint8_t* header = image.SectionHeader(k);
        if (header[0] != static_cast<uint8_t>(e.tag[0]) ||
            header[1] != static_cast<uint8_t>(e.tag[1]))
            faults.push_back(name + ": its header is tagged " + Printable(header, 2));
        if (e.flag != 'Y' && e.flag != 'N')
            faults.push_back(name + ": selection flag " + Printable(&e.flag, 1) +
                             " is neither Y nor N");
        if (e.dataLength > e.areaSize)
            faults.push_back(name + ": data length " + Hex(e.dataLength) +
                             " exceeds the area size " + Hex(e.areaSize));
        const Checksum stored = image.TrailerChecksum(k);
        const Checksum actual = ComputeChecksum(image.Data(k), e.dataLength);
        if (stored.sum != actual.sum)
            faults.push_back(name + ": trailer sum " + Hex(stored.sum, 4) +
                             " does not match the data's sum " + Hex(actual.sum, 4));
        if (stored.xorValue != actual.xorValue)
            faults.push_back(name + ": trailer XOR " + Hex(stored.xorValue, 2) +
                             " does not match the data's XOR " + Hex(actual.xorValue, 2));
        expected = uint64_t{e.dataOffset} + e.dataLength + kSectionTrailerSize +
                   kSectionHeaderSize;
    }
    const uint64_t end = expected - kSectionHeaderSize + 4;
    if (end != image.TotalSize())
        faults.push_back("total size " + Hex(image.TotalSize()) + ", expected " + Hex(end) +
                         " (4 bytes after the last trailer)");
    return faults;
}
