// The 128-byte record that describes one file in its folder's file-entry
// area: up to three long-name entries carrying the full name, then a short
// entry with the start cluster, the size and the time stamps.
#pragma once

#include <cstdint>

#include "device/partition.h"
#include "folder/folder.h"

namespace lyfs {

inline constexpr std::uint32_t kMinFileNameLength = 9;
inline constexpr std::uint32_t kMaxFileNameLength = 39;
inline constexpr std::uint32_t kFileNameBytes = 40;  // with the terminator
inline constexpr std::uint8_t kAttrFile = 0x20;

// Record offsets of the short entry's fields.
namespace record {
inline constexpr std::uint32_t kShortEntry = 96;
inline constexpr std::uint32_t kState = 96;  // 0x00 or 0xE5: the slot holds no file
inline constexpr std::uint32_t kAttr = 107;
inline constexpr std::uint32_t kSize = 124;
}  // namespace record

// Whether a record's slot holds a file.
bool file_entry_in_use(const std::uint8_t* record);

// Builds a whole record with size 0 into `record`. 19 for a name shorter
// than 9 or longer than 39 characters (the record is then untouched).
int32_t setup_file_entry(std::uint8_t* record, const char* name, std::uint32_t start_cluster);

// Whether a record in use is one extract_file_entry can decode. A record
// that is not is left on the card as it stands: it is no file the library
// can name, and it may be what a recovery tool needs.
bool file_entry_decodes(const std::uint8_t* record);

// Decodes a record into `name` (40 bytes), its start cluster and size.
// -1 when the record's attribute is not a file's.
int32_t extract_file_entry(const std::uint8_t* record, char* name, std::uint8_t* attribute,
                           std::uint32_t* start_cluster, std::uint32_t* size);

// Writes one record into its slot (nothing when the slot already holds it).
int32_t write_file_entry(stPARTITION* part, stFOLDER* folder, std::uint32_t entry_index,
                         const std::uint8_t* record);
// Erases one slot (128 zero bytes).
int32_t write_file_entry_dirty(stPARTITION* part, stFOLDER* folder, std::uint32_t entry_index);

// Brings the sector of `entry_index` into the folder's cache unless it is
// there. The caller holds h_fe_mutex.
int32_t load_file_entry_sector(stPARTITION* part, stFOLDER* folder, std::uint32_t entry_index);
// The cached record of `entry_index` (its sector must be loaded).
std::uint8_t* cached_file_entry(stFOLDER* folder, std::uint32_t entry_index);

}  // namespace lyfs
