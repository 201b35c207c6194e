// Preserving the printer's own ST area: the data that belongs to the
// individual printer is read back over the maintenance frames, checked
// against the checksum the printer gives, kept in memory, saved to the
// backup file, and the file's content is put into the memory copy of the
// load file in place of the placeholder.
#include <algorithm>
#include <cstring>
#include <ctime>

#include "link/byte_order.h"
#include "platform/files.h"
#include "platform/state_files.h"
#include "update/checksum.h"
#include "update/fw_commands.h"
#include "update/st_archive.h"
#include "update/update_context.h"

namespace {

uint32_t EntryDataLength(const uint8_t* printerEntry) { return GetBE32(printerEntry + 20); }

// Reads the printer's full image table (n entries as printerHeader gives
// them) into ctx.printerTable, replacing the one held so far.
int ReadPrinterTable(UpdateContext& ctx, uint32_t n) {
    // The slots and the map hold at most 30 printer entries; a printer that
    // claims more is not one this updater can serve safely.
    if (n > kMaxPrinterEntries) return kFwFailed;
    const uint32_t size = n * kImageTableEntrySize + kImageHeaderSize;
    PrinterTable table;
    if (!table.block.Allocate(size)) return kFwFailed;
    table.entries = n;
    const int r = FwCommand(kFwCodeReadTable, 0, table.block.data(), size);
    if (r != kFwOk) return r;
    ctx.printerTable = std::move(table);
    return kFwOk;
}

int RestoreFromBackup(UpdateContext& ctx) {
    unsigned long error = 0;
    platform::File file;
    if (!file.Open(ctx.backupPath, platform::File::Mode::kOpenExisting, &error)) {
        ctx.errors.Record(kUpdErrOpenBackup, static_cast<uint32_t>(error));
        return kFwFailed;
    }
    const int64_t size = file.Size(&error);
    if (size < 0) {
        ctx.errors.Record(kUpdErrReadBackup, static_cast<uint32_t>(error));
        return kFwFailed;
    }
    ByteBlock content;
    if (!content.Allocate(static_cast<size_t>(size))) return kFwFailed;
    if (size > 0 && !file.Read(content.data(), static_cast<size_t>(size), &error)) {
        ctx.errors.Record(kUpdErrReadBackup, static_cast<uint32_t>(error));
        return kFwFailed;
    }
    file.Close();

    if (!ctx.image.HasRealSt() && size > 0) {
        const uint32_t count = ctx.image.SectionCount();
        for (uint32_t j = 0; j < count; ++j) {
            const LoadImage::Entry e = ctx.image.EntryAt(j);
            if (!IsSt(e.tag) || int64_t{e.dataLength} < size) continue;
            std::memcpy(ctx.image.Data(j), content.data(), static_cast<size_t>(size));
            // Only the restored bytes are summed; the entry keeps its length.
            ctx.image.StoreTrailerChecksum(
                j, ComputeChecksum(content.data(), static_cast<size_t>(size)));
        }
    }
    return kFwOk;
}

}  // namespace

int ReadBackArea(UpdateContext& ctx, uint32_t i, uint32_t j, const uint8_t tag[2]) {
    if (i >= ctx.printerTable.entries || i >= kMaxPrinterEntries ||
        j >= ctx.image.SectionCount() || j >= kMaxLoadEntries)
        return kFwFailed;
    uint8_t* entry = ctx.printerTable.Entry(i);
    const uint32_t size = EntryDataLength(entry);
    // The data stands in for load-file entry j: an area larger than that
    // entry's area cannot be meant for it.
    if (size > ctx.image.EntryAt(j).areaSize) return kFwFailed;
    if (g_fwPacketSize <= 0) return kFwFailed;
    const uint32_t packetSize = static_cast<uint32_t>(g_fwPacketSize);

    ByteBlock& slot = ctx.slots[i];
    ByteBlock descriptor;
    ByteBlock packet;
    if (!slot.Allocate(size) || !descriptor.Allocate(kSectionDescriptorSize) ||
        !packet.Allocate(size_t{packetSize} + kBlockHeaderSize + kBlockTrailerSize))
        return kFwFailed;
    ctx.map[j] = static_cast<uint8_t>(i);

    int r = FwBeginReadBack(tag, descriptor.data(), kSectionDescriptorSize);
    if (r != kFwOk) return r;

    const uint32_t packets = size / packetSize + (size % packetSize != 0 ? 1 : 0);
    bool failed = false;
    for (uint32_t k = 1; k <= packets; ++k) {
        const uint32_t offset = (k - 1) * packetSize;
        const uint32_t length = std::min(size - offset, packetSize);
        const uint32_t want = length + kBlockHeaderSize + kBlockTrailerSize;
        uint32_t got = 0;
        r = FwRequest(kFwGs, 'V', want, packet.data(), &got);
        // A packet that does not carry its data bytes would leave stale
        // bytes in the slot.
        if (r != kFwOk || got < kBlockHeaderSize + length) {
            failed = true;
            break;
        }
        std::memcpy(slot.data() + offset, packet.data() + kBlockHeaderSize, length);
    }
    r = FwEndReadBack();
    if (failed || r != kFwOk) return kFwFailed;

    const Checksum sum = ComputeChecksum(slot.data(), size);
    const uint8_t* d = descriptor.data();
    if (GetBE16(d + 10) != sum.sum || d[12] != sum.xorValue) return kFwFailed;
    PutBE16(entry + 24, sum.sum);
    entry[28] = sum.xorValue;
    return kFwOk;
}

int SaveBackup(UpdateContext& ctx, uint32_t i, uint8_t createCategory, uint8_t writeCategory) {
    if (i >= kMaxPrinterEntries) return kFwFailed;
    const ByteBlock& slot = ctx.slots[i];
    unsigned long error = 0;
    platform::File file;
    if (!file.Open(ctx.backupPath, platform::File::Mode::kCreateAlways, &error)) {
        ctx.errors.Record(createCategory, static_cast<uint32_t>(error));
        return kFwFailed;
    }
    if (slot.size() > 0 && !file.Write(slot.data(), slot.size(), &error)) {
        ctx.errors.Record(writeCategory, static_cast<uint32_t>(error));
        return kFwFailed;
    }
    file.Close();
    return kFwOk;
}

int ArchiveSlot(UpdateContext& ctx, uint32_t i) {
    if (i >= kMaxPrinterEntries) return kFwFailed;
    const ByteBlock& slot = ctx.slots[i];
    std::vector<uint8_t> content(slot.data(), slot.data() + slot.size());
    for (const std::vector<uint8_t>& done : ctx.archivedContents)
        if (done == content) return kFwOk;

    unsigned long error = 0;
    if (ctx.archiveFolder.empty()) {
        ctx.archiveFolder = ctx.options.archiveFolder;
        if (ctx.archiveFolder.empty() && !DefaultStArchiveFolder(&ctx.archiveFolder)) {
            ctx.errors.Record(kUpdErrArchiveFolder, 2);  // no such folder
            return kFwFailed;
        }
    }
    if (!platform::CreateDirectories(ctx.archiveFolder, &error)) {
        ctx.errors.Record(kUpdErrArchiveFolder, static_cast<uint32_t>(error));
        return kFwFailed;
    }
    std::string path;
    if (!WriteStArchive(ctx.archiveFolder, ctx.report.identifier, std::time(nullptr),
                        content.data(), content.size(), &path, &error)) {
        ctx.errors.Record(kUpdErrWriteArchive, static_cast<uint32_t>(error));
        return kFwFailed;
    }
    ctx.report.archived.push_back(path);
    ctx.archivedContents.push_back(std::move(content));
    if (ctx.progress != nullptr) ctx.progress->OnArchived(path);
    return kFwOk;
}

int PreserveStArea(UpdateContext& ctx) {
    ctx.Report(UpdatePhase::kPreserving);
    LoadImage& image = ctx.image;
    const uint32_t count = image.SectionCount();
    int r;

    // Phase A: back the printer's ST area up.
    const uint32_t n = HeaderEntryCount(ctx.printerHeader);
    if (n != 0 && (r = ReadPrinterTable(ctx, n)) != kFwOk) return r;
    // A restore that cannot fit is refused before anything is read back.
    if ((r = CheckRestoreFits(ctx)) != kFwOk) return r;
    if (n != 0) {
        if (image.EntryAt(0).flag != 'N') {
            // The first two entries of the table, as far as the table has
            // them.
            for (uint32_t j = 0; j < std::min<uint32_t>(2, count); ++j) {
                const LoadImage::Entry e = image.EntryAt(j);
                if (!IsSt(e.tag)) continue;
                for (uint32_t i = 0; i < n; ++i) {
                    const uint8_t* p = ctx.printerTable.Entry(i);
                    if (!IsSt(p) || e.dataLength < EntryDataLength(p)) continue;
                    const uint8_t tag[2] = {uint8_t(e.tag[0]), uint8_t(e.tag[1])};
                    if ((r = ReadBackArea(ctx, i, j, tag)) != kFwOk) return r;
                    if ((r = ArchiveSlot(ctx, i)) != kFwOk) return r;
                    if ((r = SaveBackup(ctx, i, kUpdErrCreateBackup, kUpdErrWriteBackup)) != kFwOk)
                        return r;
                }
            }
        } else if (!IsSt(image.FirstSectionHeader())) {
            for (uint32_t i = 0; i < n; ++i) {
                const uint8_t* p = ctx.printerTable.Entry(i);
                if (!IsSt(p)) continue;
                const uint8_t tag[2] = {p[0], p[1]};
                if ((r = ReadBackArea(ctx, i, 0, tag)) != kFwOk) return r;
                if ((r = ArchiveSlot(ctx, i)) != kFwOk) return r;
                if ((r = SaveBackup(ctx, i, kUpdErrCreateBackupN, kUpdErrWriteBackupN)) != kFwOk)
                    return r;
            }
        }
    }

    // Phase B: when the layouts differ, read every area back that an entry
    // not rewritten in every update stands for.
    const uint32_t layout = HeaderLayout(ctx.printerHeader);
    if (layout != image.LayoutNumber() && layout != 0) {
        const uint32_t m = HeaderEntryCount(ctx.printerHeader);
        if ((r = ReadPrinterTable(ctx, m)) != kFwOk) return r;
        for (uint32_t j = 0; j < count; ++j) {
            const LoadImage::Entry e = image.EntryAt(j);
            if (e.flag == 'Y') continue;
            for (uint32_t i = 0; i < m; ++i) {
                const uint8_t* p = ctx.printerTable.Entry(i);
                if (p[0] != uint8_t(e.tag[0]) || p[1] != uint8_t(e.tag[1]) ||
                    EntryDataLength(p) > e.dataLength)
                    continue;
                const uint8_t tag[2] = {uint8_t(e.tag[0]), uint8_t(e.tag[1])};
                if ((r = ReadBackArea(ctx, i, j, tag)) != kFwOk) return r;
                // What is read again of the printer's own data is kept too.
                if (IsSt(p) && (r = ArchiveSlot(ctx, i)) != kFwOk) return r;
            }
        }
    }

    // Phase C: put the backup file's content into the image.
    return RestoreFromBackup(ctx);
}
