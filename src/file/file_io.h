// Reading, positioning, writing and committing files through their
// open-file nodes.
#pragma once

#include <cstdint>

#include "device/partition.h"
#include "file/open_files.h"

namespace lyfs {

// Where a transfer inside one cluster starts.
struct ClusterPosition {
    std::uint32_t cluster;
    std::uint32_t offset;  // bytes into the cluster
};

// Moves `len` bytes between the caller and the node's file at its position,
// which lies at `at`: whole sectors in one request straight to or from the
// caller's buffer, partial sectors through the node's page copy. The bytes
// stay within `at.cluster` and, for reads, the file's clusters that follow
// it on the card. A read finds nothing held back (read_file writes it out
// first). 0 or -1.
int32_t read_cluster(stPARTITION* part, stOPEN_FILE* node, ClusterPosition at, std::uint8_t* dst,
                     std::uint32_t len, std::uint32_t* moved);
// A write sends to the card what ends on a page boundary of the device,
// joined to the held bytes it continues, and holds back the rest; held
// bytes it does not continue are written out first. -1 leaves bytes held
// before the call held.
int32_t write_cluster(stPARTITION* part, stOPEN_FILE* node, ClusterPosition at,
                      const std::uint8_t* src, std::uint32_t len, std::uint32_t* moved);
// Writes out what the node holds back, if anything. 0 or the sector
// layer's status; on failure the bytes stay held.
int32_t write_held_bytes(stPARTITION* part, stOPEN_FILE* node);
// The same for every open file of the partition, made durable: what a host
// that leaves files open wrote reaches the card before the device is let go.
// 0, or the first failure of a write or of the flush.
int32_t write_held_bytes_of_open_files(stPARTITION* part);

// Reclaims room if needed, reserves the ring slot behind the tail and a
// free start cluster, and writes the new file's entry (size 0). Null on
// failure, with the slot given back.
stFILE* create_file(stPARTITION* part, stFOLDER* folder, const char* name);

// Bytes read (fewer at the chain's end, 0 past the clusters it holds), or -1.
int32_t read_file(stPARTITION* part, stOPEN_FILE* node, std::uint8_t* dst, std::uint32_t len);
// Places cur_clus and clus_pos on the node's position.
int32_t setup_file_pos_on_cluster_pos(stPARTITION* part, stOPEN_FILE* node);
// The new position, or -1 (a seek from the start to the size or beyond).
int64_t seek_file(stPARTITION* part, stOPEN_FILE* node, std::uint8_t whence, std::int32_t offset);

// Bytes written, or -1 (the bytes of earlier pieces stay written).
int32_t write_file(stPARTITION* part, stOPEN_FILE* node, const std::uint8_t* src,
                   std::uint32_t len);
// Commits a file written through the node (end mark, entry with its size,
// device flushed) and releases the node in every case.
int32_t close_file(stPARTITION* part, stOPEN_FILE* node);

}  // namespace lyfs
