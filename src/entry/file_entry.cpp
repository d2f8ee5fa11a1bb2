#include "entry/file_entry.h"

#include <cstring>

#include "core/log.h"
#include "entry/file_entry_cache.h"
#include "layout/codec.h"
#include "layout/dir_entry_codec.h"
#include "lyfs/lyfs.h"

namespace lyfs {
namespace {

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// The alias's first byte is also the slot's state byte: a name that begins
// with the erased mark keeps it as 0x05 there, as FAT does, or the scan at
// the next mount would take the file's slot for an erased one. The name
// itself lives in the long-name entries.
constexpr char kErasedMarkInName = 0x05;

void short_name_of(const char* name, char* alias) {
    for (int i = 0; i < 6; ++i) {
        alias[i] = upper(name[i]);
    }
    if (static_cast<std::uint8_t>(alias[0]) == kEntryErased) {
        alias[0] = kErasedMarkInName;
    }
    alias[6] = '~';
    alias[7] = '1';
    alias[8] = '\0';
}

void extension_of(const char* name, std::uint8_t* ext) {
    const char* dot = std::strrchr(name, '.');
    if (dot == nullptr) {
        std::memset(ext, ' ', kShortExtBytes);
        return;
    }
    std::memset(ext, 0, kShortExtBytes);
    for (std::uint32_t i = 0; i < kShortExtBytes && dot[1 + i] != '\0'; ++i) {
        ext[i] = static_cast<std::uint8_t>(upper(dot[1 + i]));
    }
}

// Takes up to `units` characters of one run into the name; false when the
// name ended inside the run.
bool take_run(const std::uint8_t* run, std::uint32_t units, char* name, std::uint32_t* length) {
    for (std::uint32_t u = 0; u < units; ++u) {
        const std::uint8_t low = run[2 * u];
        if (low == 0) {
            return false;
        }
        name[(*length)++] = static_cast<char>(low);
    }
    return true;
}

// Writes `record` (or zeros) into the slot through the folder's cache.
// `caller` names the operation in failure lines; an erase logs only the
// sector layer's line for a failed write.
int32_t put_record(stPARTITION* part, stFOLDER* folder, std::uint32_t entry_index,
                   const std::uint8_t* record, const char* caller, bool is_erase) {
    platform::MutexGuard guard(folder->h_fe_mutex);
    const std::uint32_t sector = file_entry_sector(part, folder, entry_index);
    if (int32_t status = load_file_entry_sector(part, folder, entry_index); status != LYFS_OK) {
        log_error("[ERROR]%s, read_file_entry_sector failed, sector:%d\n", caller, sector);
        return status;
    }
    std::uint8_t* slot = cached_file_entry(folder, entry_index);
    if (!is_erase && std::memcmp(slot, record, kFileEntryBytes) == 0) {
        log_info("[INFO]write_file_entry, already written, index:%d\n", entry_index);
        return LYFS_OK;
    }
    std::memcpy(slot, record, kFileEntryBytes);
    int32_t status = write_file_entry_sector(part, folder, device_sector(part, sector));
    if (status != LYFS_OK) {
        // The cache must not keep what the card lacks: a later look at the
        // slot would take it for written.
        folder->fe_cache_sector = kNoSector;
        if (!is_erase) {
            log_error("[ERROR]%s, write_file_entry_sector failed, sector:%d\n", caller, sector);
        }
    }
    return status;
}

}  // namespace

bool file_entry_in_use(const std::uint8_t* record) {
    const std::uint8_t state = record[record::kState];
    return state != 0x00 && state != kEntryErased;
}

bool file_entry_decodes(const std::uint8_t* record) {
    return record[record::kAttr] == kAttrFile;
}

int32_t setup_file_entry(std::uint8_t* record, const char* name, std::uint32_t start_cluster) {
    const std::size_t length = name != nullptr ? std::strlen(name) : 0;
    if (length < kMinFileNameLength || length > kMaxFileNameLength) {
        log_error("[ERROR]setup_file_entry, invalid file length:%d\n", static_cast<int>(length));
        return LYFS_ERR_NAME_LENGTH;
    }
    char alias[kShortNameBytes + 1];
    std::uint8_t ext[kShortExtBytes];
    short_name_of(name, alias);
    extension_of(name, ext);
    std::uint8_t* short_entry = record + record::kShortEntry;
    fill_short_entry(short_entry, alias, ext, kAttrFile, start_cluster);
    const std::uint32_t used =
        put_long_name_entries(record, name, static_cast<std::uint32_t>(length));
    // Positions the name does not need hold copies of the short entry,
    // marked erased so no reader takes them for a file.
    for (std::uint32_t slot = 0; slot < kMaxLongNameEntries - used; ++slot) {
        std::memcpy(record + slot * kDirEntryBytes, short_entry, kDirEntryBytes);
        record[slot * kDirEntryBytes] = kEntryErased;
    }
    return LYFS_OK;
}

int32_t extract_file_entry(const std::uint8_t* record, char* name, std::uint8_t* attribute,
                           std::uint32_t* start_cluster, std::uint32_t* size) {
    if (!file_entry_decodes(record)) {
        log_error("[ERROR]extract_file_entry, doesn't support short file entry, attr:0x%x\n",
                  record[record::kAttr]);
        return LYFS_FAIL;
    }
    const std::uint8_t* short_entry = record + record::kShortEntry;
    *start_cluster = short_entry_cluster(short_entry);
    *size = get_u32(record + record::kSize);
    *attribute = kAttrFile;
    std::uint32_t length = 0;
    for (int entry = kMaxLongNameEntries - 1; entry >= 0; --entry) {
        const std::uint8_t* e = record + entry * kDirEntryBytes;
        if (e[0] == kEntryErased) {
            log_info("[INFO]extract_file_entry, dirty entry in file entry\n");
            break;
        }
        if (!take_run(e + 1, 5, name, &length) || !take_run(e + 14, 6, name, &length) ||
            !take_run(e + 28, 2, name, &length)) {
            break;
        }
    }
    name[length] = '\0';
    return LYFS_OK;
}

int32_t load_file_entry_sector(stPARTITION* part, stFOLDER* folder, std::uint32_t entry_index) {
    const std::uint32_t sector = file_entry_sector(part, folder, entry_index);
    if (folder->fe_cache_sector == sector) {
        return LYFS_OK;
    }
    folder->fe_cache_sector = kNoSector;
    int32_t status = read_file_entry_sector(part, folder, device_sector(part, sector));
    if (status == LYFS_OK) {
        folder->fe_cache_sector = sector;
    }
    return status;
}

std::uint8_t* cached_file_entry(stFOLDER* folder, std::uint32_t entry_index) {
    return folder->file_entry_cache + file_entry_offset(folder, entry_index);
}

int32_t write_file_entry(stPARTITION* part, stFOLDER* folder, std::uint32_t entry_index,
                         const std::uint8_t* record) {
    return put_record(part, folder, entry_index, record, "write_file_entry", false);
}

int32_t write_file_entry_dirty(stPARTITION* part, stFOLDER* folder, std::uint32_t entry_index) {
    static const std::uint8_t kErased[kFileEntryBytes] = {};
    return put_record(part, folder, entry_index, kErased, "write_file_entry_dirty", true);
}

}  // namespace lyfs
