#include "api/release.h"

#include "device/disk.h"
#include "device/partition.h"
#include "entry/file_object.h"
#include "file/file_io.h"
#include "file/open_files.h"

namespace lyfs {

void release_partition(stPARTITION* part) {
    write_held_bytes_of_open_files(part);
    release_open_files(part);
    release_folder_objects(part);
    teardown_partition(part);
}

void release_disk(stDISK* disk) {
    while (disk->part_list != nullptr) {
        release_partition(disk->part_list);
    }
    remove_disk(disk);
}

}  // namespace lyfs
