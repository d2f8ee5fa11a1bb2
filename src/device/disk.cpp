#include "device/disk.h"

#include <cstring>

#include "core/handles.h"
#include "core/list.h"
#include "core/log.h"
#include "core/state.h"
#include "device/kept_writes.h"
#include "device/partition_table.h"
#include "device/sector_io.h"
#include "device/window.h"
#include "layout/layout.h"
#include "lyfs/lyfs.h"
#include "platform/memory.h"

namespace lyfs {

stDISK* find_disk(const char* dev_name) {
    stRvFS* rvfs = library_state();
    if (rvfs == nullptr || dev_name == nullptr) {
        return nullptr;
    }
    platform::MutexGuard guard(rvfs->h_lib_mutex);
    return list_find(rvfs->disk_list,
                     [&](stDISK* d) { return std::strcmp(d->dev_name, dev_name) == 0; });
}

stDISK* create_disk_object() {
    stRvFS* rvfs = library_state();
    stDISK* disk = rvfs != nullptr ? allocate_with_handle<stDISK>(HandleKind::kDisk) : nullptr;
    if (disk == nullptr) {
        log_error("[ERROR]create_disk_object, malloc for p_disk failed\n");
        return nullptr;
    }
    platform::MutexGuard guard(rvfs->h_lib_mutex);
    list_append(rvfs->disk_list, disk);
    return disk;
}

int32_t initialize_disk_handle(stDISK* disk, platform::DeviceAccess access) {
    disk->sector_buff = static_cast<std::uint8_t*>(platform::allocate_zeroed(kSectorBytes));
    if (disk->sector_buff == nullptr) {
        log_error("[ERROR]initialize_disk_handle, malloc for sector_buff failed\n");
        return LYFS_ERR_NO_MEMORY;
    }
    const std::size_t window_bytes = static_cast<std::size_t>(disk->n_scts_per_clus) * kSectorBytes;
    disk->rd_buff = static_cast<std::uint8_t*>(platform::allocate_zeroed(window_bytes));
    if (disk->rd_buff == nullptr) {
        log_error("[ERROR]initialize_disk_handle, malloc for cache rd_buff failed\n");
        destroy_disk_handle(disk);
        return LYFS_ERR_NO_MEMORY;
    }
    disk->wr_buff = static_cast<std::uint8_t*>(platform::allocate_zeroed(window_bytes));
    if (disk->wr_buff == nullptr) {
        log_error("[ERROR]initialize_disk_handle, malloc for cache wr_buff failed\n");
        destroy_disk_handle(disk);
        return LYFS_ERR_NO_MEMORY;
    }
    disk->n_window_scts = disk->n_scts_per_clus;
    disk->rd_window_start = 0;
    disk->wr_window_start = 0;
    disk->wr_window_count = 0;

    std::uint32_t last_error = 0;
    bool read_only = false;
    disk->h_disk = platform::table().open_device(disk->dev_name, access, &read_only, &last_error);
    if (disk->h_disk == platform::kInvalidDevice) {
        log_error("[ERROR]initialize_disk_handle, CreateFileA failed, dev_name:%s\n",
                  disk->dev_name);
        destroy_disk_handle(disk);
        return LYFS_ERR_OPEN_DEVICE;
    }
    if (read_only) {
        if (access == platform::DeviceAccess::kReadWrite) {
            disk->write_protected = 1;
            log_info("[INFO]initialize_disk_handle, write-protected, opened for reading only, %s\n",
                     disk->dev_name);
        }
        if (int32_t status = make_disk_read_only(disk); status != LYFS_OK) {
            destroy_disk_handle(disk);
            return status;
        }
    }
    std::uint64_t size_bytes = 0;
    std::uint32_t bytes_per_sector = 0;
    if (!platform::table().get_geometry(disk->h_disk, &size_bytes, &bytes_per_sector,
                                        &last_error) ||
        bytes_per_sector == 0) {
        log_error(
            "[ERROR]initialize_disk_handle, DeviceIoControl::IOCTL_DISK_GET_DRIVE_GEOMETRY "
            "failed, %d\n",
            last_error);
        destroy_disk_handle(disk);
        return LYFS_ERR_OPEN_DEVICE;
    }
    disk->bytes_per_sector = bytes_per_sector;
    // Sector numbers are 32 bits: a device past 2 TiB is used up to the last
    // sector they reach. Cutting the count to its low bits instead would
    // show a 2.2 TB disk as a few hundred MiB, and partition it so.
    const std::uint64_t sectors = size_bytes / bytes_per_sector;
    disk->geom_total_sectors =
        sectors > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(sectors);
    disk->total_sectors = disk->geom_total_sectors;
    return LYFS_OK;
}

void destroy_disk_handle(stDISK* disk) {
    platform::release(disk->sector_buff);
    platform::release(disk->rd_buff);
    platform::release(disk->wr_buff);
    disk->n_window_scts = 0;
    if (disk->h_disk != nullptr && disk->h_disk != platform::kInvalidDevice) {
        drop_kept_writes(disk->h_disk);
        platform::table().close_device(disk->h_disk);
    }
    disk->h_disk = platform::kInvalidDevice;
}

void remove_disk(stDISK* disk) {
    destroy_disk_handle(disk);
    if (stRvFS* rvfs = library_state()) {
        platform::MutexGuard guard(rvfs->h_lib_mutex);
        list_remove(rvfs->disk_list, disk);
    }
    platform::close_mutex(disk->h_part_list_mutex);
    release_handle(disk->handle);
    platform::release(disk);
}

int32_t setup_disk_info(const char* dev_name, stDISK** out, platform::DeviceAccess access) {
    log_debug("setup_disk_info, master_dev_name:%s\n", dev_name != nullptr ? dev_name : "");
    // The path is kept in a fixed field; a longer one is refused rather
    // than cut, which could name another device.
    if (dev_name == nullptr || std::strlen(dev_name) >= kDeviceNameBytes) {
        log_error("[ERROR]setup_disk_info, invalid dev_name, length:%d\n",
                  dev_name != nullptr ? static_cast<int>(std::strlen(dev_name)) : -1);
        return LYFS_ERR_OPEN_DEVICE;
    }
    stDISK* disk = create_disk_object();
    if (disk == nullptr) {
        log_error("[ERROR]setup_disk_info, create_disk_object failed, %s\n", dev_name);
        return LYFS_ERR_NO_MEMORY;
    }
    std::strcpy(disk->dev_name, dev_name);
    disk->n_scts_per_clus = kDefaultSectsPerClus;

    int32_t status = initialize_disk_handle(disk, access);
    if (status != LYFS_OK) {
        log_error("[ERROR]setup_disk_info, initialize_disk_handle failed\n");
    } else {
        status = initialize_partition_entry(disk);
        if (status != LYFS_OK) {
            log_error("[ERROR]setup_disk_info, initialize_partition_entry failed\n");
        }
    }
    if (status != LYFS_OK) {
        remove_disk(disk);
        return status;
    }
    *out = disk;
    return LYFS_OK;
}

int32_t find_or_setup_disk(const char* dev_name, stDISK** out, platform::DeviceAccess access) {
    if (stDISK* disk = find_disk(dev_name)) {
        *out = disk;
        return LYFS_OK;
    }
    return setup_disk_info(dev_name, out, access);
}

int32_t make_disk_read_only(stDISK* disk) {
    if (int32_t status = keep_writes_in_memory(disk->h_disk); status != LYFS_OK) {
        log_error("[ERROR]make_disk_read_only, keep_writes_in_memory failed\n");
        return status;
    }
    disk->read_only = 1;
    return LYFS_OK;
}

int32_t refuse_if_read_only(const stDISK* disk, const char* caller) {
    if (disk->read_only == 0) {
        return LYFS_OK;
    }
    log_error("[ERROR]%s, %s, nothing is written, %s\n", caller,
              disk->write_protected != 0 ? "the device is write-protected"
                                         : "the device is mounted read-only",
              disk->dev_name);
    return LYFS_ERR_WRITE_PROTECTED;
}

namespace {

int32_t change_disk_lock(stDISK* disk, platform::DeviceLock kind, const char* caller) {
    if (disk->lock_held == kind) {
        return LYFS_OK;
    }
    std::uint32_t last_error = 0;
    if (platform::table().lock_device(disk->h_disk, kind, &last_error)) {
        disk->lock_held = kind;
        return LYFS_OK;
    }
    if (last_error == platform::kErrorSharingViolation) {
        log_error("[ERROR]%s, device in use by another program, dev_name:%s\n", caller,
                  disk->dev_name);
        return LYFS_ERR_SHARING_VIOLATION;
    }
    // A device whose file system keeps no advisory locks still works; it
    // just cannot tell other programs that it is busy.
    log_info("[INFO]%s, no advisory lock on the device, error:%d, dev_name:%s\n", caller,
             last_error, disk->dev_name);
    return LYFS_OK;
}

int32_t refuse_if_mounted(const stDISK* disk, const char* caller) {
    if (disk->part_list == nullptr) {
        return LYFS_OK;
    }
    log_error("[ERROR]%s, the device is mounted, close it first, dev_name:%s\n", caller,
              disk->dev_name);
    return LYFS_ERR_SHARING_VIOLATION;
}

}  // namespace

int32_t lock_disk_for_mount(stDISK* disk, platform::DeviceLock kind, const char* caller) {
    const int32_t status = change_disk_lock(disk, kind, caller);
    if (status == LYFS_OK) {
        disk->mount_lock = kind;
    }
    return status;
}

DiskEditLock::DiskEditLock(stDISK* disk, const char* caller)
    : disk_(disk), status_(refuse_if_mounted(disk, caller)) {
    if (status_ == LYFS_OK) {
        status_ = change_disk_lock(disk, platform::DeviceLock::kExclusive, caller);
    }
}

DiskEditLock::~DiskEditLock() {
    if (status_ == LYFS_OK) {
        change_disk_lock(disk_, disk_->mount_lock, "DiskEditLock");
    }
}

}  // namespace lyfs
