#include "folder/dir_entry.h"

#include <cstring>

#include "core/log.h"
#include "layout/codec.h"
#include "layout/dir_entry_codec.h"
#include "lyfs/lyfs.h"

namespace lyfs {
namespace {

constexpr std::uint8_t kNoExtension[kShortExtBytes] = {' ', ' ', ' '};
constexpr std::uint32_t kMaxNameLength = kLongNameChars * kMaxLongNameEntries;

// A long name takes the whole group: the long-name entries end right before
// the short alias, and the slots in front of them are erased long-name
// entries, so the group's first slot always says "skip 128 bytes".
void put_long_name_group(std::uint8_t* group, const char* name, std::uint32_t length,
                         std::uint8_t attribute, std::uint32_t first_cluster) {
    char alias[kShortNameBytes + 1] = {};
    std::memcpy(alias, name, 6);
    std::memcpy(alias + 6, "~1", 2);
    fill_short_entry(group + kMaxLongNameEntries * kDirEntryBytes, alias, kNoExtension, attribute,
                     first_cluster);
    const std::uint32_t used = put_long_name_entries(group, name, length);
    for (std::uint32_t slot = 0; slot < kMaxLongNameEntries - used; ++slot) {
        std::uint8_t* entry = group + slot * kDirEntryBytes;
        std::memset(entry, 0, kDirEntryBytes);
        entry[0] = kEntryErased;
        entry[short_entry::kAttr] = kAttrLongName;
    }
}

}  // namespace

int32_t make_dir_entry(const char* name, std::uint8_t attribute, std::uint32_t first_cluster,
                       std::uint8_t* sector, std::uint32_t* offset) {
    const std::uint32_t length = static_cast<std::uint32_t>(std::strlen(name));
    if (length == 0) {
        log_error("[ERROR]make_dir_entry, invalid dir_name_len\n");
        return LYFS_ERR_EMPTY_FOLDER_NAME;
    }
    const std::uint32_t size = length <= kShortNameBytes ? kDirEntryBytes : kLongNameGroupBytes;
    if (length > kMaxNameLength || *offset > kRootDirSectorBytes - size) {
        log_error("[ERROR]make_dir_entry, entry does not fit, dir_name_len:%d, offset:%d\n", length,
                  *offset);
        return LYFS_FAIL;
    }
    if (size == kDirEntryBytes) {
        fill_short_entry(sector + *offset, name, kNoExtension, attribute, first_cluster);
    } else {
        put_long_name_group(sector + *offset, name, length, attribute, first_cluster);
    }
    *offset += size;
    return LYFS_OK;
}

bool extract_dir_entry(const std::uint8_t* entry, DirEntryInfo* out) {
    if (entry[short_entry::kAttr] == kAttrLongName) {
        log_error("[ERROR]extract_dir_entry, doesn't support LFN directory\n");
        return false;
    }
    std::memset(out->name, 0, sizeof out->name);
    for (std::uint32_t i = 0; i < kShortNameBytes && entry[i] != ' '; ++i) {
        out->name[i] = static_cast<char>(entry[i]);
    }
    out->attribute = entry[short_entry::kAttr];
    out->first_cluster = short_entry_cluster(entry);
    out->size = get_u32(entry + short_entry::kSize);
    return true;
}

}  // namespace lyfs
