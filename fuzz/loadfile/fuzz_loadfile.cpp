// The load-file reader against arbitrary bytes: an open either fails with a
// reason and leaves the image closed, or every accessor of every section
// stays inside the copy (the address sanitizer sees any read or write
// outside it). qzrtool's description and fault list run over the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <streambuf>
#include <string>

#include "tools/qzrtool/qzr_report.h"
#include "update/checksum.h"
#include "update/load_image.h"

namespace {

class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
};

uint32_t Touch(const uint8_t* p, size_t n) {
    uint32_t acc = 0;
    for (size_t i = 0; i < n; ++i) acc = acc * 31 + p[i];
    return acc;
}

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    LoadImage image;
    std::string why;
    const LoadImageStatus status = OpenLoadImageFrom(data, size, &image, &why);
    volatile uint32_t sink = 0;
    if (status != LoadImageStatus::kOk) {
        Check(!image.IsOpen());
        Check(!why.empty());
    } else {
        Check(image.IsOpen());
        Check(image.TotalSize() > kLoadFileHeaderSize && image.TotalSize() <= size);
        Check(std::memcmp(image.Bytes(), data, image.TotalSize()) == 0);
        const uint32_t count = image.SectionCount();
        sink = sink + image.LayoutNumber() + Touch(image.VersionText(), kVersionTextSize);
        sink = sink + Touch(image.FirstSectionHeader(), kSectionHeaderSize);
        sink = sink + Touch(image.EntryBytes(count), kSectionEntrySize);
        bool realSt = false;
        for (uint32_t k = 0; k < count; ++k) {
            const LoadImage::Entry e = image.EntryAt(k);
            sink = sink + Touch(image.EntryBytes(k), kSectionEntrySize);
            sink = sink + Touch(image.SectionHeader(k), kSectionHeaderSize);
            sink = sink + Touch(image.Trailer(k), kSectionTrailerSize);
            sink = sink + image.AttributeWord(k) + image.ClassValue(k) +
                   Touch(image.FormatCode(k), 4);
            const Checksum actual = ComputeChecksum(image.Data(k), e.dataLength);
            const Checksum stored = image.TrailerChecksum(k);
            // What the update does after it restores the ST content.
            image.StoreTrailerChecksum(k, actual);
            Check(image.TrailerChecksum(k) == actual);
            image.StoreTrailerChecksum(k, stored);
            if (e.tag[0] == 'S' && e.tag[1] == 'T' &&
                (e.dataLength < 4 || std::memcmp(image.Data(k), "DUMY", 4) != 0))
                realSt = true;
        }
        Check(image.HasRealSt() == realSt);
    }
    CloseLoadImage(&image);
    Check(!image.IsOpen());

    NullBuffer nothing;
    std::ostream out(&nothing);
    std::string error;
    const bool described = DescribeLoadFile(data, size, out, &error);
    Check(described == (status == LoadImageStatus::kOk));
    const auto faults = FindLoadFileFaults(data, size);
    Check(status == LoadImageStatus::kOk || !faults.empty());
    (void)sink;
    return 0;
}
