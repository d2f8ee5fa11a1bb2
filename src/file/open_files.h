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

// Whole sectors of an open file where its last transfer ended, at most one
// page of them, so that a recording moved in pieces never reads a sector
// twice and never makes the operating system read a page to take a write.
// After a read they are the sector the read ended inside, as the card holds
// it. After a write they are the bytes that end inside a page (and the rest
// of their last sector), held back: written with the start of the next piece
// when it continues right behind them on the card, so that requests start
// and end on pages; written out at once otherwise, and before a read, a seek
// elsewhere, close, or the device's release.
struct PageCopy {
    std::uint32_t file_pos;  // of its first byte, a sector's start; kNotPositioned: none
    std::uint32_t sector;    // partition-relative sector of its first byte
    std::uint32_t bytes;     // whole sectors, at most `capacity`
    std::uint32_t capacity;  // one page
    bool held;               // not yet on the card
    std::uint8_t* data;
};

struct stOPEN_FILE {
    stFILE* p_file;
    stCLUS_CHAIN clus_chain;
    std::uint32_t file_pos;  // kNotPositioned before the first transfer
    std::uint8_t open_mode;
    stOPEN_FILE* prev;
    stOPEN_FILE* next;
    PageCopy page_copy;
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
// Whether a file being written holds `cluster` as its newest, whose FAT entry
// still reads free: its start cluster until it is first written, then its
// chain's last. The chains of writers change only under the FAT lock.
bool held_by_open_writer(stPARTITION* part, std::uint32_t cluster);
void unlink_open_file(stPARTITION* part, stOPEN_FILE* node);
// Unlinks the node and frees it with its chain array.
void release_open_file(stPARTITION* part, stOPEN_FILE* node);
// Releases every node of the partition without committing anything.
void release_open_files(stPARTITION* part);

}  // namespace lyfs
