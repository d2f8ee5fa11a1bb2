// Exports for people: where diagnostic lines go, and what a status means.
#include "lyfs/lyfs.h"
#include "platform/debug_output.h"

extern "C" {

LYFS_API void lyfs_set_debug_output(lyfs_debug_sink sink, void* user, int verbose) {
    lyfs::platform::set_debug_output(sink, user, verbose != 0);
}

LYFS_API const char* lyfs_status_text(int32_t status) {
    switch (status) {
        case LYFS_OK:
            return "success";
        case LYFS_IS_LYFS:
            return "the device holds the card file system";
        case LYFS_ERR_NO_MEMORY:
            return "out of memory";
        case LYFS_ERR_NO_DEVICE_HANDLE:
            return "no device to transfer to, or low-level format asked for";
        case LYFS_ERR_MOUNT:
            return "the card file system could not be mounted";
        case LYFS_ERR_EMPTY_FOLDER_NAME:
            return "empty folder name";
        case LYFS_ERR_FOLDER_RECORD:
            return "the folder record of the card is invalid";
        case LYFS_ERR_CLOSE_NO_PARTITION:
            return "the device record holds no partition to close";
        // The name-length status stays inside the library (a create only
        // fails its open), so 19 reaches a host only as this.
        case LYFS_ERR_WRITE_PROTECTED:
            return "the device is write-protected or mounted read-only";
        case LYFS_ERR_NO_CHAIN:
            return "the file has no cluster chain";
        case LYFS_ERR_SHARING_VIOLATION:
            return "the device is in use by another program";
        case LYFS_NO_FILE:
            return "the folder holds no file";
        case LYFS_ERR_NO_FREE_CLUSTER:
            return "the folder has no free cluster";
        case LYFS_ERR_RING_FULL:
            return "the folder's file-entry area is full";
        case LYFS_ERR_NOT_RING_HEADER:
            return "the file is not the oldest of its folder";
        case LYFS_ERR_SEEK:
            return "positioning the device failed";
        case LYFS_ERR_READ:
            return "reading from the device failed";
        case LYFS_ERR_WRITE:
            return "writing to the device failed";
        case LYFS_ERR_OPEN_DEVICE:
            return "the device cannot be opened or its folders cannot be set up";
        case LYFS_ERR_NO_PARTITION:
            return "no mounted partition for this device record";
        case LYFS_ERR_NO_FOLDER:
            return "no folder of that name";
        case LYFS_ERR_NO_DISK:
            return "the device is not held by the library";
        case LYFS_ERR_BAD_ARGUMENT:
            return "an argument is out of range (folder table or partition type)";
        case LYFS_ERR_BAD_SLOT:
            return "the partition slot is empty or does not fit the device";
        case LYFS_FAIL:
            return "the operation failed";
        default:
            return "unknown status";
    }
}

}  // extern "C"
