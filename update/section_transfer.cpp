// Section transfer: the selected sections of the load file go to the
// printer as a section descriptor followed by numbered, checksummed blocks
// of up to 8,192 bytes and a commit; a new image table goes first when the
// printer's layout differs, and the version text comes last. Data preserved
// from the printer is sent in place of the load file's where the map says
// so.
#include <algorithm>
#include <cstring>

#include "link/byte_order.h"
#include "update/checksum.h"
#include "update/fw_commands.h"
#include "update/update_context.h"

namespace {

constexpr uint8_t kPlaceholderMark[4] = {'D', 'U', 'M', 'Y'};

uint32_t BlockCount(uint64_t size) {
    return static_cast<uint32_t>((size + kBlockDataSize - 1) / kBlockDataSize);
}

// The entry that a restore sends: the load file's first ST section.
bool IsRestoreEntry(const UpdateContext& ctx, uint32_t j) {
    const uint32_t count = ctx.image.SectionCount();
    for (uint32_t k = 0; k < count; ++k) {
        const LoadImage::Entry e = ctx.image.EntryAt(k);
        if (IsSt(e.tag)) return k == j;
    }
    return false;
}

// Where the data of entry j comes from.
struct SectionSource {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    uint8_t sum[2] = {};  // big-endian, as the descriptor carries it
    uint8_t xorValue = 0;
    bool fromSlot = false;  // the printer's own data, read back
};

// The source of entry j: the slot that the map names when the layouts
// differ, else the image. False when the map names a slot that does not
// hold what the printer's table says it holds.
bool ResolveSource(UpdateContext& ctx, uint32_t j, SectionSource* src) {
    if (ctx.selection == kSelectionRestore) {
        // The archived copy, checked by the printer against its own sums.
        const StRestoreRequest* restore = ctx.Restore();
        if (restore == nullptr || !IsRestoreEntry(ctx, j)) return false;
        const Checksum c = ComputeChecksum(restore->data.data(), restore->data.size());
        src->data = restore->data.data();
        src->size = static_cast<uint32_t>(restore->data.size());
        PutBE16(src->sum, c.sum);
        src->xorValue = c.xorValue;
        return true;
    }
    const uint8_t m = j < kMaxLoadEntries ? ctx.map[j] : kNoSlot;
    if (ctx.selection == ' ' && m != kNoSlot) {
        if (m >= ctx.printerTable.entries || m >= kMaxPrinterEntries) return false;
        const uint8_t* p = ctx.printerTable.Entry(m);
        const ByteBlock& slot = ctx.slots[m];
        const uint32_t size = GetBE32(p + 20);
        // The table was read again after the slot was filled: its length
        // must still be the slot's.
        if (!slot.IsAllocated() || slot.size() != size) return false;
        src->data = slot.data();
        src->size = size;
        src->sum[0] = p[24];
        src->sum[1] = p[25];
        src->xorValue = p[28];
        src->fromSlot = true;
        return true;
    }
    const LoadImage::Entry e = ctx.image.EntryAt(j);
    const Checksum c = ctx.image.TrailerChecksum(j);
    src->data = ctx.image.Data(j);
    src->size = e.dataLength;
    PutBE16(src->sum, c.sum);
    src->xorValue = c.xorValue;
    return true;
}

// Whether entry j is sent under the selection.
bool IsSent(const UpdateContext& ctx, uint32_t j) {
    if (ctx.selection == kSelectionRestore) return IsRestoreEntry(ctx, j);
    if (ctx.selection == ' ') return true;
    if (ctx.selection == 'Y' || ctx.selection == 'N')
        return ctx.image.EntryAt(j).flag == ctx.selection;
    return false;
}

// A placeholder from the load file (what the printer gave back is its own,
// whatever it holds).
bool IsPlaceholder(const SectionSource& src, const LoadImage::Entry& e) {
    return !src.fromSlot && IsSt(e.tag) && src.size >= sizeof kPlaceholderMark &&
           std::memcmp(src.data, kPlaceholderMark, sizeof kPlaceholderMark) == 0;
}

// Capacity check of an all-'N' file: every section must fit its area.
int CheckCapacity(UpdateContext& ctx) {
    const uint32_t n = HeaderEntryCount(ctx.printerHeader);
    const uint32_t size = n * kImageTableEntrySize + kImageHeaderSize;
    PrinterTable table;
    if (!table.block.Allocate(size)) return kFwFailed;
    table.entries = n;
    const int r = FwCommand(kFwCodeReadTable, 0, table.block.data(), size);
    if (r != kFwOk) return r;
    const uint32_t count = ctx.image.SectionCount();
    for (uint32_t j = 0; j < count; ++j) {
        const LoadImage::Entry e = ctx.image.EntryAt(j);
        for (uint32_t i = 0; i < n; ++i) {
            const uint8_t* p = table.Entry(i);
            if (p[0] != uint8_t(e.tag[0]) || p[1] != uint8_t(e.tag[1])) continue;
            if (static_cast<int32_t>(e.dataLength) > static_cast<int32_t>(GetBE32(p + 12)))
                return kFwFailed;
        }
    }
    return kFwOk;
}

}  // namespace

uint16_t HeaderEntryCount(const uint8_t* header) { return GetBE16(header + 24); }
uint32_t HeaderLayout(const uint8_t* header) { return GetBE32(header + 4); }

int SendImageTable(UpdateContext& ctx) {
    LoadImage& image = ctx.image;
    const uint32_t count = image.SectionCount();
    ByteBlock table;
    if (!table.Allocate(size_t{count} * kImageTableEntrySize + kImageHeaderSize)) return kFwFailed;
    uint8_t* h = table.data();
    h[0] = static_cast<uint8_t>(GetLE32(image.FirstSectionHeader() + 0x14));
    PutBE32(h + 4, image.LayoutNumber());
    std::memcpy(h + 8, image.VersionText(), kVersionTextSize);
    PutBE16(h + 24, static_cast<uint16_t>(count));
    for (uint32_t k = 0; k < count; ++k) {
        uint8_t* t = h + kImageHeaderSize + size_t{k} * kImageTableEntrySize;
        const LoadImage::Entry e = image.EntryAt(k);
        const uint8_t m = k < kMaxLoadEntries ? ctx.map[k] : kNoSlot;
        if (m != kNoSlot) {
            if (m >= ctx.printerTable.entries) return kFwFailed;
            const uint8_t* p = ctx.printerTable.Entry(m);
            t[0] = p[0];
            t[1] = p[1];
            std::memcpy(t + 4, p + 4, 4);
        } else {
            t[0] = static_cast<uint8_t>(e.tag[0]);
            t[1] = static_cast<uint8_t>(e.tag[1]);
            PutBE32(t + 4, image.AttributeWord(k));
        }
        PutBE32(t + 8, e.loadAddress);
        PutBE32(t + 12, e.areaSize);
    }
    // A printer may erase every area that the new table moves, ST too.
    ctx.report.stWriteBegun = true;
    return FwSendImageTable(table.data(), static_cast<uint32_t>(table.size()));
}

int SendSection(UpdateContext& ctx, uint32_t j) {
    LoadImage& image = ctx.image;
    if (!ctx.descriptor.IsAllocated() || !ctx.block.IsAllocated()) return kFwFailed;
    const LoadImage::Entry e = image.EntryAt(j);
    const uint8_t* h = image.SectionHeader(j);

    SectionSource src;
    if (!ResolveSource(ctx, j, &src)) return kFwFailed;
    const uint32_t blocks = BlockCount(src.size);
    // Block numbers and the block count are 16-bit on the wire.
    if (blocks > 0xFFFF) return kFwFailed;

    uint8_t* d = ctx.descriptor.data();
    std::memset(d, 0, kSectionDescriptorSize);
    d[0] = static_cast<uint8_t>(GetLE32(h + 0x14));
    PutBE32(d + 4, GetLE32(h + 0x04));
    PutBE16(d + 8, static_cast<uint16_t>(blocks));
    d[10] = src.sum[0];
    d[11] = src.sum[1];
    d[12] = src.xorValue;

    ++ctx.sectionsSent;
    if (ctx.progress != nullptr)
        ctx.progress->OnSection(e.tag, ctx.sectionsSent, blocks);

    // A printer may erase the area as soon as the section begins.
    if (IsSt(e.tag)) ctx.report.stWriteBegun = true;
    int r = FwBeginSection(h, d, kSectionDescriptorSize);
    if (r != kFwOk) return r;

    uint8_t* b = ctx.block.data();
    std::memset(b, 0, kBlockHeaderSize);
    b[0] = static_cast<uint8_t>(e.tag[0]);
    b[1] = static_cast<uint8_t>(e.tag[1]);
    std::memcpy(b + 4, h + 0x08, 4);
    for (uint32_t k = 1; k <= blocks; ++k) {
        const uint32_t offset = (k - 1) * kBlockDataSize;
        const uint32_t length = std::min(src.size - offset, kBlockDataSize);
        PutBE16(b + 2, static_cast<uint16_t>(k));
        PutBE32(b + 16, offset);
        PutBE32(b + 20, length);
        std::memcpy(b + kBlockHeaderSize, src.data + offset, length);
        uint8_t* trailer = b + kBlockHeaderSize + length;
        std::memset(trailer, 0, kBlockTrailerSize);
        const Checksum c = ComputeChecksum(src.data + offset, length);
        PutBE16(trailer, c.sum);
        trailer[2] = c.xorValue;
        r = FwWriteBlock(b, length + kBlockHeaderSize + kBlockTrailerSize);
        if (r != kFwOk) return r;
        ctx.bytesSent += length;
        if (ctx.progress != nullptr) ctx.progress->OnBlock(k, blocks, ctx.bytesSent);
    }
    return FwCommitSection();
}

int TransferSections(UpdateContext& ctx) {
    ctx.Report(UpdatePhase::kTransferring);
    LoadImage& image = ctx.image;
    const uint32_t count = image.SectionCount();

    int r = FwCommand(kFwCodeReadTable, 0, ctx.printerHeader, kImageHeaderSize);
    if (r != kFwOk) return r;

    if (ctx.Restore() != nullptr) {
        ctx.selection = kSelectionRestore;
    } else {
        ctx.selection = image.EntryAt(0).flag;
        for (uint32_t j = 1; j < count; ++j) {
            if (image.EntryAt(j).flag != ctx.selection) {
                ctx.selection = ' ';
                break;
            }
        }
        if (HeaderLayout(ctx.printerHeader) == image.LayoutNumber() && ctx.selection == ' ')
            ctx.selection = 'Y';
    }

    if (ctx.selection == 'N' && (r = CheckCapacity(ctx)) != kFwOk) return r;

    if (!ctx.descriptor.Allocate(kSectionDescriptorSize) ||
        !ctx.block.Allocate(kBlockHeaderSize + kBlockDataSize + kBlockTrailerSize))
        return kFwFailed;

    // Plan the transfer before anything is written: every source must be
    // sound, and a placeholder must never reach a printer (it would replace
    // the printer's own ST data with filler).
    uint32_t sections = 0;
    uint32_t blocks = 0;
    uint64_t bytes = 0;
    for (uint32_t j = 0; j < count; ++j) {
        if (!IsSent(ctx, j)) continue;
        SectionSource src;
        if (!ResolveSource(ctx, j, &src) || IsPlaceholder(src, image.EntryAt(j)))
            return kFwFailed;
        ++sections;
        blocks += BlockCount(src.size);
        bytes += src.size;
    }
    // A restore that would send nothing has not restored anything.
    if (ctx.selection == kSelectionRestore && sections == 0) return kFwFailed;
    if (ctx.progress != nullptr)
        ctx.progress->OnTransferPlan(sections, blocks, bytes);

    for (uint32_t j = 0; j < count; ++j) {
        if (!IsSent(ctx, j)) continue;
        if (ctx.selection == ' ' && j == 0 && (r = SendImageTable(ctx)) != kFwOk) return r;
        if ((r = SendSection(ctx, j)) != kFwOk) return r;
    }

    if (ctx.selection == ' ' || ctx.selection == 'Y')
        return FwSetVersion(image.VersionText(), kVersionTextSize);
    return kFwOk;
}
