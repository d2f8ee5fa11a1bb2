// Tearing down what a mount built, shared by the device exports and stop.
#pragma once

namespace lyfs {

struct stDISK;
struct stPARTITION;

// Releases a mounted partition with its open files and folders; nothing is
// committed to the card.
void release_partition(stPARTITION* part);
// Releases a disk with everything mounted on it and drops it from the list.
void release_disk(stDISK* disk);

}  // namespace lyfs
