/*
 * lyfs: read and write the card file system of video recorders.
 *
 * A recorder keeps its recordings in a few fixed root folders, each owning one
 * pre-allocated region of the card. This library mounts such a card (a block
 * device or a card image), lists and reads the recordings, writes new files,
 * and partitions and formats new cards.
 *
 * Conventions of this interface:
 *  - Every function returns a 32-bit status: 0 (LYFS_OK) for success, one of
 *    the LYFS_* codes below otherwise. Exports that return a count or a
 *    position return -1 on failure.
 *  - Objects the host can name (a mounted card, a folder, an open file) are
 *    32-bit handles. A handle is never 0 and is never reused while the process
 *    lives, so a stale handle is simply "not found".
 *  - The host records below are packed, little-endian byte layouts; their
 *    sizes and offsets are fixed and checked at compile time.
 *  - Call CL_LyFS_Start before anything else and CL_LyFS_Stop last.
 *  - Diagnostics go to the debug output (see lyfs_set_debug_output); the
 *    returned status is the only result the host must look at.
 */
#ifndef LYFS_LYFS_H
#define LYFS_LYFS_H

#include <stddef.h>
#include <stdint.h>

/*
 * LYFS_API marks the exports. On Windows a host imports them from lyfs.dll
 * (link its import library); only the library's own build exports them
 * (LYFS_BUILDING), and a program linking the static library defines
 * LYFS_STATIC. LYFS_CALL is the calling convention of every function and
 * callback: __cdecl, whatever the host compiler's default.
 */
#if defined(_WIN32)
#if defined(LYFS_BUILDING)
#define LYFS_API __declspec(dllexport)
#elif defined(LYFS_STATIC)
#define LYFS_API
#else
#define LYFS_API __declspec(dllimport)
#endif
#define LYFS_CALL __cdecl
#else
#if defined(__GNUC__)
#define LYFS_API __attribute__((visibility("default")))
#else
#define LYFS_API
#endif
#define LYFS_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------ */
/* Status codes                                                             */
/* ------------------------------------------------------------------------ */

enum {
    /* Success. */
    LYFS_OK = 0,
    /* CL_LyFS_Check_LyFS_partition: the device holds the card file system. */
    LYFS_IS_LYFS = 1,
    /* Out of memory, or a lock cannot be created. */
    LYFS_ERR_NO_MEMORY = 4,
    /* Sector transfer without a device; CL_LyFS_Format asked for a low-level format. */
    LYFS_ERR_NO_DEVICE_HANDLE = 5,
    /* The mount failed; partitioning cannot set up the disk. */
    LYFS_ERR_MOUNT = 8,
    /* Empty folder name while formatting. */
    LYFS_ERR_EMPTY_FOLDER_NAME = 13,
    /* The folder-size record names 10 or more folders. */
    LYFS_ERR_FOLDER_RECORD = 14,
    /* CL_LyFS_Device_Close: the record holds no partition. */
    LYFS_ERR_CLOSE_NO_PARTITION = 15,
    /* A file name shorter than 9 or longer than 39 characters. */
    LYFS_ERR_NAME_LENGTH = 19,
    /* Partitioning or formatting a device that takes no writes (write-protected,
       or mounted read-only); nothing was written. The value is the system's
       own code for a write-protected medium. */
    LYFS_ERR_WRITE_PROTECTED = 19,
    /* A file being closed has no cluster chain. */
    LYFS_ERR_NO_CHAIN = 29,
    /*
     * Another program holds the device: it has the card mounted, or is
     * partitioning or formatting it (a read-only mount shares the device
     * with other read-only mounts only). Also a partition edit or format of
     * a device this program has open: close it first. Nothing was written.
     */
    LYFS_ERR_SHARING_VIOLATION = 32,
    /* A folder holds no file (at mount; not a failure). */
    LYFS_NO_FILE = 36,
    /* A folder's file-content area has no free cluster. */
    LYFS_ERR_NO_FREE_CLUSTER = 37,
    /* A folder's file-entry ring is full. */
    LYFS_ERR_RING_FULL = 38,
    /* The file to delete is not the oldest of its folder. */
    LYFS_ERR_NOT_RING_HEADER = 39,
    /* Positioning the device failed. */
    LYFS_ERR_SEEK = 40,
    /* A sector read failed. */
    LYFS_ERR_READ = 41,
    /* A sector write failed (also: the card is write-protected). */
    LYFS_ERR_WRITE = 42,
    /* The device cannot be opened, or its folders cannot be set up. */
    LYFS_ERR_OPEN_DEVICE = 43,
    /* The dev_desc record names no mounted partition. */
    LYFS_ERR_NO_PARTITION = 44,
    /* No folder of that name. */
    LYFS_ERR_NO_FOLDER = 45,
    /* CL_LyFS_Format: the library holds no disk for the device. */
    LYFS_ERR_NO_DISK = 46,
    /* An argument is out of range (a folder table, a partition type); nothing was written. */
    LYFS_ERR_BAD_ARGUMENT = 47,
    /* The partition slot is empty or does not fit the device; nothing was written. */
    LYFS_ERR_BAD_SLOT = 48,
    /* Failure of a file or list export. */
    LYFS_FAIL = -1
};

/* ------------------------------------------------------------------------ */
/* Host records                                                             */
/* ------------------------------------------------------------------------ */

#pragma pack(push, 1)

/* One partition-table slot as the host sees it (16 bytes). */
typedef struct lyfs_part_slot {
    uint8_t status;        /* boot indicator byte */
    uint8_t reserved0[3];  /* zero */
    uint8_t type;          /* 0x52 card file system, 0x0B/0x0C FAT32, 0 empty */
    uint8_t reserved1[3];  /* zero */
    uint32_t first_sector; /* first 512-byte sector of the partition on the device */
    uint32_t sector_count; /* sectors of the partition */
} lyfs_part_slot;

/*
 * The device descriptor. The host allocates it and keeps it alive and
 * unchanged from CL_LyFS_Device_Open to CL_LyFS_Device_Close; every later call
 * takes its address. Bytes not named here are never written by the library.
 */
typedef struct dev_desc {
    uint32_t part_handle;        /*   0: handle of the mounted partition */
    uint8_t part_count;          /*   4: used partition-table slots */
    lyfs_part_slot slots[4];     /*   5: slots in table order; only slot 1 is written */
    uint8_t unused[23];          /*  69: not written */
    uint8_t sectors_per_cluster; /*  92: byte from the card file system's boot sector */
    uint32_t fat_device_sector;  /*  93: reserved plus hidden sectors of that boot sector */
    uint32_t fat_first_sector;   /*  97: first FAT sector, relative to the partition (32) */
    uint32_t first_cluster;      /* 101: first cluster of the data area (2) */
    uint32_t part_total_sectors; /* 105: sectors of the mounted partition */
    uint32_t backup_boot_sct;    /* 109: relative sector of the backup boot sector (6) */
    uint16_t reserved_sectors;   /* 113: reserved sectors of that boot sector */
} dev_desc;

/* Device information (16 bytes): see CL_LyFS_Get_Master_Device_Info. */
typedef struct lyfs_device_info {
    uint32_t n_scts_per_clus; /* sectors per cluster (256 or 1025); 0 for a partition */
    uint32_t reserved[2];     /* zero */
    uint32_t total_sectors;   /* sectors of the device, or of the mounted partition */
} lyfs_device_info;

/* A folder as the host sees it (77 bytes). */
typedef struct DirInfo {
    char fold_name[64];   /* zero-terminated */
    uint64_t total_space; /* bytes of the folder's content area */
    uint32_t max_file_num;
    uint8_t fold_type;
} DirInfo;

/* CL_LyFS_Get_Dir_List: a count, then that many folders (at most nine). */
typedef struct lyfs_dir_list {
    uint8_t count;
    DirInfo dirs[9];
} lyfs_dir_list;

/* A file as the host sees it (128 bytes). */
typedef struct FileInfo {
    char name[98];      /* zero-terminated */
    uint32_t fd;        /* the file's descriptor */
    uint32_t file_size; /* bytes */
    uint8_t unused[22]; /* not written */
} FileInfo;

/* When a file was created: the recorder's local time, in steps of two seconds. */
typedef struct lyfs_file_time {
    uint16_t year;  /* 1980 to 2107 */
    uint8_t month;  /* 1 to 12 */
    uint8_t day;    /* 1 to 31 */
    uint8_t hour;   /* 0 to 23 */
    uint8_t minute; /* 0 to 59 */
    uint8_t second; /* 0 to 58 */
} lyfs_file_time;

/*
 * CL_LyFS_Get_FileList's buffer: the number of records wanted, then room for
 * that many records. Allocate LYFS_FILE_LIST_BYTES(n) bytes for n records.
 */
typedef struct lyfs_file_list {
    uint32_t count;
    FileInfo files[1]; /* the first of `count` records */
} lyfs_file_list;

#define LYFS_FILE_LIST_BYTES(n) (4u + 128u * (uint32_t)(n))
/* Record i of a file-list buffer (files[1] only names the first). */
#define LYFS_FILE_LIST_RECORD(list, i) \
    ((FileInfo*)((unsigned char*)(list) + 4u + 128u * (uint32_t)(i)))

/* One folder of a format's folder table (77 bytes). */
typedef struct stFOLDER_SPEC {
    char name[64];          /* 1 to 8 characters, zero-terminated */
    uint64_t share_percent; /* share of the volume; ignored for the last folder (the rest) */
    uint32_t max_file_num;  /* files the folder can hold */
    uint8_t fold_type;      /* the folder entry's attribute byte; not 0x0F (a long name) */
} stFOLDER_SPEC;

/* The folder table of CL_LyFS_Format: a count, then that many folders in
   the order they are laid out (1 + 77 * count bytes are read). */
typedef struct lyfs_folder_table {
    uint8_t count; /* 1 to 9 */
    stFOLDER_SPEC folders[9];
} lyfs_folder_table;

#pragma pack(pop)

#if defined(__cplusplus)
#define LYFS_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define LYFS_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

LYFS_STATIC_ASSERT(sizeof(lyfs_part_slot) == 16, "partition slot is 16 bytes");
LYFS_STATIC_ASSERT(sizeof(dev_desc) == 115, "dev_desc is 115 bytes");
LYFS_STATIC_ASSERT(offsetof(dev_desc, part_count) == 4, "dev_desc.part_count at 4");
LYFS_STATIC_ASSERT(offsetof(dev_desc, slots) == 5, "dev_desc.slots at 5");
LYFS_STATIC_ASSERT(offsetof(dev_desc, sectors_per_cluster) == 92, "dev_desc spc at 92");
LYFS_STATIC_ASSERT(offsetof(dev_desc, fat_device_sector) == 93, "dev_desc FAT sector at 93");
LYFS_STATIC_ASSERT(offsetof(dev_desc, fat_first_sector) == 97, "dev_desc fat_first_sector at 97");
LYFS_STATIC_ASSERT(offsetof(dev_desc, first_cluster) == 101, "dev_desc first_cluster at 101");
LYFS_STATIC_ASSERT(offsetof(dev_desc, part_total_sectors) == 105, "dev_desc total at 105");
LYFS_STATIC_ASSERT(offsetof(dev_desc, backup_boot_sct) == 109, "dev_desc backup_boot_sct at 109");
LYFS_STATIC_ASSERT(offsetof(dev_desc, reserved_sectors) == 113, "dev_desc reserved at 113");
LYFS_STATIC_ASSERT(sizeof(lyfs_device_info) == 16, "device information is 16 bytes");
LYFS_STATIC_ASSERT(sizeof(DirInfo) == 77, "DirInfo is 77 bytes");
LYFS_STATIC_ASSERT(offsetof(DirInfo, total_space) == 64, "DirInfo.total_space at 64");
LYFS_STATIC_ASSERT(offsetof(DirInfo, max_file_num) == 72, "DirInfo.max_file_num at 72");
LYFS_STATIC_ASSERT(offsetof(DirInfo, fold_type) == 76, "DirInfo.fold_type at 76");
LYFS_STATIC_ASSERT(offsetof(lyfs_dir_list, dirs) == 1, "directory records at 1");
LYFS_STATIC_ASSERT(sizeof(FileInfo) == 128, "FileInfo is 128 bytes");
LYFS_STATIC_ASSERT(offsetof(FileInfo, fd) == 98, "FileInfo.fd at 98");
LYFS_STATIC_ASSERT(offsetof(FileInfo, file_size) == 102, "FileInfo.file_size at 102");
LYFS_STATIC_ASSERT(offsetof(lyfs_file_list, files) == 4, "file records at 4");
LYFS_STATIC_ASSERT(sizeof(lyfs_file_time) == 7, "file time is 7 bytes");
LYFS_STATIC_ASSERT(sizeof(stFOLDER_SPEC) == 77, "folder spec is 77 bytes");
LYFS_STATIC_ASSERT(offsetof(stFOLDER_SPEC, share_percent) == 64, "share at 64");
LYFS_STATIC_ASSERT(offsetof(stFOLDER_SPEC, max_file_num) == 72, "max_file_num at 72");
LYFS_STATIC_ASSERT(offsetof(stFOLDER_SPEC, fold_type) == 76, "fold_type at 76");
LYFS_STATIC_ASSERT(offsetof(lyfs_folder_table, folders) == 1, "folders at 1");
LYFS_STATIC_ASSERT(sizeof(lyfs_folder_table) == 1 + 77 * 9, "folder table of nine");

/* ------------------------------------------------------------------------ */
/* Library lifecycle                                                        */
/* ------------------------------------------------------------------------ */

/* Creates the library state. A second call while started returns 0. */
LYFS_API int32_t LYFS_CALL CL_LyFS_Start(void);

/*
 * Frees every device the library still holds and the library state.
 * Close files and devices first; stopping commits nothing. Always 0.
 */
LYFS_API int32_t LYFS_CALL CL_LyFS_Stop(void);

/* ------------------------------------------------------------------------ */
/* Mounting a card                                                          */
/* ------------------------------------------------------------------------ */

/*
 * Mounts the card file system of slot 1 of master_dev_name (a block device
 * or a card image) and fills the host's dev_desc; every later call takes its
 * address. sub_dev_name names the partition in diagnostics; flags are only
 * logged. Opening a device that is already open returns its existing mount.
 * A device that can only be read (write-protected) is mounted read-only, as
 * by lyfs_device_open_read_only. The mount keeps the device to this process
 * until CL_LyFS_Device_Close: other programs cannot mount, partition or
 * format it meanwhile (an advisory lock, flock on POSIX; read-only mounts
 * share the device with each other), and a device another program holds
 * gives 32. Returns 0, 4, 5, 8 (no mountable partition), 32, 40, 41 or 43.
 */
LYFS_API int32_t LYFS_CALL CL_LyFS_Device_Open(const char* master_dev_name,
                                               const char* sub_dev_name, uint32_t flags,
                                               dev_desc* dev_handle);

/*
 * Mounts like CL_LyFS_Device_Open with the device opened for reading only,
 * and never writes to it: what a mount or a read-open would repair on the
 * card (the end of a file's cluster chain, the size of a file whose writer
 * never closed it, a file that no longer fits its folder) is repaired in
 * memory only, so folders, listings, sizes and bytes read are those a
 * normal mount would show. Creating and writing files is refused. For
 * evidence and for cards that must stay as they are. A device that is
 * already mounted for writing is refused with 43. Returns the statuses of
 * CL_LyFS_Device_Open.
 */
LYFS_API int32_t LYFS_CALL lyfs_device_open_read_only(const char* master_dev_name,
                                                      const char* sub_dev_name,
                                                      dev_desc* dev_handle);

/* How a mount takes writes: the answers of lyfs_device_mount_mode. */
enum {
    LYFS_MOUNT_READ_WRITE = 0,
    /* Mounted with lyfs_device_open_read_only. */
    LYFS_MOUNT_READ_ONLY = 1,
    /* The device can only be read (a card's write-protect switch, a read-only
       device node or image): CL_LyFS_Device_Open mounted it read-only. */
    LYFS_MOUNT_WRITE_PROTECTED = 2
};

/*
 * One of LYFS_MOUNT_READ_WRITE, LYFS_MOUNT_READ_ONLY and
 * LYFS_MOUNT_WRITE_PROTECTED for the mount dev_handle names, or 44 when it
 * names none. Both read-only modes refuse creates and writes.
 */
LYFS_API int32_t LYFS_CALL lyfs_device_mount_mode(const dev_desc* dev_handle);

/*
 * Releases the mount and the device and flushes it. Files still open are
 * released without being committed (the bytes they held back are written
 * and flushed all the same): close them first. Returns 0, 15, or the status
 * of a write of those bytes or of the flush that failed (the device is
 * released all the same).
 */
LYFS_API int32_t LYFS_CALL CL_LyFS_Device_Close(dev_desc* dev_handle);

/* ------------------------------------------------------------------------ */
/* Folders and files of a mounted card                                      */
/* ------------------------------------------------------------------------ */

/* Stores the folder's descriptor in *dir_desc. Returns 0, 44 or 45. */
LYFS_API int32_t LYFS_CALL CL_LyFS_Get_Dir_Desciptor(dev_desc* dev_handle, const char* dir_name,
                                                     uint32_t* dir_desc);

/* Describes one folder, with its total and free bytes. Returns 0, 44 or 45. */
LYFS_API int32_t LYFS_CALL CL_LyFS_Get_Dir_Info(dev_desc* dev_handle, const char* dir_name,
                                                DirInfo* info, uint64_t* total_space,
                                                uint64_t* free_space);

/* Lists the folders in card order. Returns 0, or -1 without a mount. */
LYFS_API int32_t LYFS_CALL CL_LyFS_Get_Dir_List(dev_desc* dev_handle, lyfs_dir_list* list);

/*
 * Pages through a folder's files in age order: oldest first with sort 0,
 * newest first otherwise. *start_index is 1-based and advances by the
 * number of records written, so repeated calls page through the folder;
 * list->count says how many records the buffer holds. Returns the number of
 * records written, or -1.
 */
LYFS_API int32_t LYFS_CALL CL_LyFS_Get_FileList(dev_desc* dev_handle, const char* dir_name,
                                                uint32_t* start_index, lyfs_file_list* list,
                                                uint32_t sort);

/* Name, descriptor and size of an open file. Returns 0 or -1. */
LYFS_API int32_t LYFS_CALL CL_LyFS_Get_FileInfo(dev_desc* dev_handle, uint32_t fd, FileInfo* info);

/*
 * When the file was created, as stamped into its record on the card, for
 * any file of the card: fd is the descriptor a file list or an open gave.
 * Returns 0, 44, or -1 when fd names no file of this card (any more).
 */
LYFS_API int32_t LYFS_CALL lyfs_get_file_time(dev_desc* dev_handle, uint32_t fd,
                                              lyfs_file_time* time);

/* ------------------------------------------------------------------------ */
/* File data                                                                */
/* ------------------------------------------------------------------------ */

#define LYFS_INVALID_FD 0xFFFFFFFFu

enum { LYFS_SEEK_SET = 0, LYFS_SEEK_CUR = 1, LYFS_SEEK_END = 2 };

/*
 * Opens /FOLDER/NAME. Mode "w" creates a new file (names of 9 to 39
 * characters; an existing name is refused), reclaiming the folder's oldest
 * files first when it is short of room (refused on a read-only mount); any
 * other mode opens for reading, and a file whose writer never closed it is
 * given the size of its whole clusters (on the card, or in memory only on a
 * read-only mount): it holds what the writes returned but for the bytes held
 * back when the writer stopped (see CL_LyFS_File_Write), fewer than one page.
 * With mode "r" and a null path (or one without "/"), the file is
 * looked up by fd. Opening an open file again returns the same fd. Returns
 * the fd, or LYFS_INVALID_FD.
 */
LYFS_API uint32_t LYFS_CALL CL_LyFS_File_Open(dev_desc* dev_handle, const char* file_path,
                                              const char* mode, uint32_t reserved1,
                                              uint32_t reserved2, uint32_t fd);

/* Reads up to len bytes at the file's position. Returns the count, or -1. */
LYFS_API int32_t LYFS_CALL CL_LyFS_File_Read(dev_desc* dev_handle, void* buf, uint32_t len,
                                             uint32_t fd);

/*
 * Moves the file's position (whence LYFS_SEEK_SET, _CUR or _END); a move
 * writes out the bytes the file held back. Returns the new position, or 0 on
 * failure.
 */
LYFS_API uint32_t LYFS_CALL CL_LyFS_File_Seek(dev_desc* dev_handle, uint32_t fd, uint8_t whence,
                                              int32_t offset);

/* The file's position, or -1. */
LYFS_API int32_t LYFS_CALL CL_LyFS_File_Tell(dev_desc* dev_handle, uint32_t fd);

/*
 * Writes len bytes at the position of a file opened for writing: in place over
 * what it holds and on past its end, but from no position beyond the clusters
 * it holds. A file opened for reading is only patched in place: a write that
 * would lengthen its clusters fails, since its close commits nothing. The
 * folder's oldest files may be reclaimed to make room (see the
 * delete callback). The bytes that end inside a page of the device are held
 * back and go to the card with the next piece when it continues right behind
 * them; otherwise that piece, a seek elsewhere, a read, close or closing the
 * device writes them out, and fails if they cannot be written. Returns the
 * count written, or -1 (always on a read-only mount).
 */
LYFS_API int32_t LYFS_CALL CL_LyFS_File_Write(dev_desc* dev_handle, const void* buf, uint32_t len,
                                              uint32_t fd);

/*
 * Closes a file. A file opened for writing is committed: its size is on the
 * card, durably, when this returns 0. One closed with nothing written keeps
 * its first cluster, ended in the FAT, and reads as that cluster, like a file
 * whose writer never closed it. Returns 0 or -1.
 */
LYFS_API int32_t LYFS_CALL CL_LyFS_File_Close(dev_desc* dev_handle, uint32_t fd);

/*
 * Makes what was written to a file so far durable without closing it: the
 * bytes it held back are written out and the device is flushed. The file is
 * committed only by CL_LyFS_File_Close; a card pulled before that keeps it
 * as a file whose writer never closed it, which its next open recovers as
 * its whole clusters. Returns 0 (at once for a file opened for reading);
 * -1 when fd is not open; 40, 41 or 42 when a transfer failed (the bytes
 * stay held) or the flush did.
 */
LYFS_API int32_t LYFS_CALL lyfs_file_flush(dev_desc* dev_handle, uint32_t fd);

/*
 * Cancels a file being written, instead of closing it: "cancel this copy".
 * The file (opened with mode "w" and still the newest of its folder) is
 * removed as if it had never been created: its clusters are free again, its
 * record is erased, and the folder's free space and file-entry ring are as
 * before its create (files the folder reclaimed meanwhile stay deleted). The
 * fd is closed on success. Power lost midway leaves a card that mounts, with
 * at most a shorter unclosed copy of the file, which reads as its whole
 * clusters. Returns 0; 44 without a mount; 19 on a read-only mount; -1 when
 * fd is not open for writing or a newer file of its folder was created
 * since; 40, 41 or 42 when a transfer failed before the file was gone: it
 * then stays open with nothing to commit, to be discarded again (or closed,
 * which leaves it as a file whose writer never closed it); or 42 when only
 * the final flush failed (the file is gone).
 */
LYFS_API int32_t LYFS_CALL lyfs_file_discard(dev_desc* dev_handle, uint32_t fd);

/*
 * Told of every file the library deletes on its own (the oldest files of a
 * folder, to make room): its former fd, the length of its path and the path
 * "/FOLDER/NAME". Runs inside the call that deleted the file, with the
 * folder's locks held: it must not call back into the library.
 */
typedef void(LYFS_CALL* lyfs_file_delete_cb)(uint32_t fd, uint32_t length, char* path);

/* Registers the delete callback (null switches it off). Call after start. */
LYFS_API void LYFS_CALL CL_LyFS_File_Delete_Callback_Register(lyfs_file_delete_cb callback);

/* Kept for compatibility: always 0; register through the function above. */
LYFS_API extern uint32_t fptr_file_delete_cb;

/* ------------------------------------------------------------------------ */
/* Device information                                                       */
/* ------------------------------------------------------------------------ */

/*
 * Sets up the device at master_dev_name (a block device such as /dev/sdb or
 * a card image file) if the library does not hold it yet, and reports its
 * sectors per cluster (word 0) and sector count (word 3). The device stays
 * held, so a following CL_LyFS_Device_Open of the same path reuses it.
 * Returns 0, 4, 5, 40, 41 or 43.
 */
LYFS_API int32_t LYFS_CALL CL_LyFS_Get_Master_Device_Info(const char* master_dev_name,
                                                          lyfs_device_info* info);

/*
 * Reports the sector count of the partition mounted through dev_handle
 * (word 3; the other words are 0). Returns 44, with info untouched, when the
 * record names no mounted partition.
 */
LYFS_API int32_t LYFS_CALL CL_LyFS_Get_Device_Info(dev_desc* dev_handle, lyfs_device_info* info);

/* Kept for compatibility: does nothing and returns 0. */
LYFS_API int32_t LYFS_CALL CL_LyFS_Get_Partition_Info(dev_desc* dev_handle);

/*
 * Returns 1 (LYFS_IS_LYFS) when slot 1 of the device's partition table holds
 * the card file system (type 0x52), else 0. On a positive answer the device
 * stays held; on a negative one it is released unless it is mounted.
 */
LYFS_API int32_t LYFS_CALL CL_LyFS_Check_LyFS_partition(const char* master_dev_name);

/* Kept for compatibility: each does nothing and returns 0. */
LYFS_API int32_t LYFS_CALL CL_LyFS_Get_FAT32_Partition(void);
LYFS_API int32_t LYFS_CALL CL_LyFS_Get_LyFS_Partition(void);
LYFS_API int32_t LYFS_CALL CL_LyFS_Get_Available_Partition(void);
LYFS_API int32_t LYFS_CALL CL_LyFS_Fwrite_Header_Update(void);
LYFS_API int32_t LYFS_CALL CL_LyFS_Get_Finfo_with_Fname(void);

/* ------------------------------------------------------------------------ */
/* Card preparation                                                         */
/* ------------------------------------------------------------------------ */

/* Host partition types. */
enum {
    LYFS_PART_FAT32 = 1, /* slot 0, type byte 0x0C, at sector 32 */
    LYFS_PART_LYFS = 2,  /* slot 1, type byte 0x52, right behind slot 0 */
    LYFS_PART_ALL = 7    /* CL_LyFS_Delete_Partition: every slot */
};

/*
 * Writes a partition into the table of the device: type 1 creates slot 0
 * (FAT32) at sector 32 and starts a fresh table; any other type creates
 * slot 1 (the card file system) right behind slot 0, so create slot 0 first.
 * size_mib is clamped to the device's end; the slot and the final sector
 * count are reported. large_block is only logged. A device whose sector 0
 * is itself a boot sector is left alone (0, nothing reported).
 * Another program's mount or preparation of the device gives 32, as it does
 * for CL_LyFS_Delete_Partition and CL_LyFS_Format.
 * Returns 0, 8 (no disk), 19 (the device takes no writes), 32, 41, 42, or 48
 * (slot 1 while slot 0 is empty).
 */
LYFS_API int32_t LYFS_CALL CL_LyFS_Create_Partition(const char* dev_name, int32_t type,
                                                    uint64_t size_mib, uint32_t* slot_index,
                                                    uint32_t* sector_count, int32_t large_block);

/*
 * Clears slot 0 (type 1), slot 1 (type 2) or all four slots (type 7) of the
 * device's table; the partitions' data stay on the card. Any other type
 * changes nothing and returns 47; a device that takes no writes, 19.
 */
LYFS_API int32_t LYFS_CALL CL_LyFS_Delete_Partition(const char* dev_name, int32_t type);

/*
 * Formats slot 1 (slot_selector 2) or slot 0 (any other selector) of a
 * device the library holds (through CL_LyFS_Get_Master_Device_Info or the
 * partition exports) with the folders of the table. type 1 (low-level
 * format) is refused with 5. The table and the slot are checked before
 * anything is written: 13 for an empty name, 47 for another fault in the
 * table (1 to 9 folders, names of at most 8 characters, shares of at most
 * 100 % in all, every region larger than its file-entry area), 48 for an
 * empty slot, 19 for a device that takes no writes (write-protected, or
 * mounted read-only). Returns 0, 4, 5, 13, 19, 32, 40, 41, 42, 46, 47 or 48. The device is
 * flushed when the format is done; mount the card again afterwards.
 */
LYFS_API int32_t LYFS_CALL CL_LyFS_Format(const char* master_dev, const char* sub_dev,
                                          int32_t slot_selector, int32_t type,
                                          const lyfs_folder_table* folder_table);

/* ------------------------------------------------------------------------ */
/* Diagnostics                                                              */
/* ------------------------------------------------------------------------ */

/*
 * Receives each diagnostic line (at most 511 characters, ending in its own
 * "\n"). It may be called from any thread, also while library locks are held,
 * so it must not call back into the library.
 */
typedef void(LYFS_CALL* lyfs_debug_sink)(const char* line, void* user);

/*
 * Installs the sink for diagnostic lines; null restores the default: the
 * debug output on Windows (OutputDebugStringA), and stderr when the
 * environment variable LYFS_DEBUG is set. With verbose set, the library's
 * trace lines are sent as well.
 */
LYFS_API void LYFS_CALL lyfs_set_debug_output(lyfs_debug_sink sink, void* user, int verbose);

/* A short English description of a status code, for messages to people. */
LYFS_API const char* LYFS_CALL lyfs_status_text(int32_t status);

#ifdef __cplusplus
}
#endif

#endif /* LYFS_LYFS_H */
