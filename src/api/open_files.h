// The partition's registry of open files: a file is open exactly while it
// has a node here, and every file export finds its node from the host's fd.
#pragma once

#include <cstdint>

#include "device/partition.h"
#include "entry/file_object.h"
#include "file/cluster_chain.h"
#include "lyfs/lyfs.h"

namespace lyfs {

inline constexpr std::uint8_t kOpenForReading = 1;
inline constexpr std::uint8_t kOpenForWriting = 2;
inline constexpr std::uint32_t kNotPositioned = 0xFFFFFFFF;

struct stOPEN_FILE {
    stFILE* p_file;
    stCLUS_CHAIN clus_chain;
    std::uint32_t file_pos;  // kNotPositioned before the first transfer
    std::uint8_t open_mode;
    stOPEN_FILE* prev;
    stOPEN_FILE* next;
    // The card's bytes of the file sector that the last partial-sector
    // transfer cut into. A recording written or read in pieces that end
    // inside a sector continues in that sector, so the next piece takes its
    // head from here instead of reading it from the card again.
    std::uint32_t sector_copy_pos;  // file position of its first byte; kNotPositioned: none
    std::uint8_t sector_copy[512];
};

int32_t register_open_file_list(stPARTITION* part, stFILE* file, std::uint8_t mode,
                                stOPEN_FILE** out);
// The node of the file the host's fd names, or null (a random or stale fd
// is simply not found).
stOPEN_FILE* find_open_file_list(stPARTITION* part, std::uint32_t fd);
// The node of an open file object, or null.
stOPEN_FILE* find_open_file(stPARTITION* part, const stFILE* file);
// The oldest node whose file has this name and lies in `folder`.
stOPEN_FILE* find_open_file_list_name(stPARTITION* part, const stFOLDER* folder, const char* name);
// find_open_file_list, logging when the fd is not open.
stOPEN_FILE* get_file_open_file_list(stPARTITION* part, std::uint32_t fd);
// What every file export starts with: the partition the host's record names
// and the node of its fd, or null with the export's lines logged.
stOPEN_FILE* open_file_of(const dev_desc* record, std::uint32_t fd, const char* export_name,
                          stPARTITION** part);
void unlink_open_file(stPARTITION* part, stOPEN_FILE* node);
// Unlinks the node and frees it with its chain array.
void release_open_file(stPARTITION* part, stOPEN_FILE* node);
// Releases every node of the partition without committing anything.
void release_open_files(stPARTITION* part);

}  // namespace lyfs
