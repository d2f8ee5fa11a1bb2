// Making room in a folder by deleting its oldest files.
#pragma once

#include <cstdint>

#include "device/partition.h"
#include "entry/file_object.h"
#include "file/cluster_chain.h"

namespace lyfs {

// Where a deletion may take a file from.
enum class DeleteFrom {
    kHeader,    // the ring's header only (39 otherwise)
    kAnywhere,  // a file that must go wherever it is (the scan at mount)
};

// Frees the file's clusters, erases its entry, drops its object and tells
// the host. `freed` receives the bytes of the clusters freed.
int32_t delete_file(stPARTITION* part, stFOLDER* folder, stFILE* file, std::uint64_t* freed,
                    DeleteFrom from = DeleteFrom::kHeader);

// Sets the FAT entries of the chain's clusters free, one FAT sector at a time.
int32_t delete_file_fat_entries(stPARTITION* part, const stCLUS_CHAIN* chain);

// Deletes the folder's oldest files, whole groups of names that agree in
// their first 15 characters, until its free space exceeds its reserve; only
// when that space or its free entries (10 or fewer) run short. An open file
// is never deleted: the reclaim stops with 37 instead, as it does when no
// file is left to delete.
int32_t verify_fold_space_ex(stPARTITION* part, stFOLDER* folder);

}  // namespace lyfs
