/* A Windows host as its authors would write it: C, the public header and the
   DLL's import library, nothing else of this project.

   lyfs_host make IMAGE PAYLOAD NAME   partitions and formats the image file,
                                       writes PAYLOAD as /DATA/NAME, reads it back
   lyfs_host read IMAGE PAYLOAD NAME   reads /DATA/NAME and compares it with PAYLOAD

   Prints one line and exits 0 when all went well. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "lyfs/lyfs.h"

static int fail(const char* step, long status) {
    printf("lyfs_host: %s failed (%ld)\n", step, status);
    return 1;
}

static unsigned char* read_payload(const char* path, long* size) {
    FILE* file = fopen(path, "rb");
    unsigned char* bytes = NULL;
    if (file != NULL && fseek(file, 0, SEEK_END) == 0 && (*size = ftell(file)) > 0 &&
        fseek(file, 0, SEEK_SET) == 0 && (bytes = malloc((size_t)*size)) != NULL &&
        fread(bytes, 1, (size_t)*size, file) != (size_t)*size) {
        free(bytes);
        bytes = NULL;
    }
    if (file != NULL) {
        fclose(file);
    }
    return bytes;
}

static void LYFS_CALL on_delete(uint32_t fd, uint32_t length, char* path) {
    printf("lyfs_host: reclaimed %.*s (fd 0x%x)\n", (int)length, path, (unsigned)fd);
}

static int prepare(const char* image) {
    lyfs_device_info info;
    lyfs_folder_table table;
    uint32_t slot = 0;
    uint32_t sectors = 0;
    int32_t status;
    memset(&table, 0, sizeof table);
    table.count = 2;
    strcpy(table.folders[0].name, "DATA");
    table.folders[0].share_percent = 60;
    table.folders[0].max_file_num = 100;
    strcpy(table.folders[1].name, "EVENT");
    table.folders[1].max_file_num = 100;
    if ((status = CL_LyFS_Get_Master_Device_Info(image, &info)) != LYFS_OK) {
        return fail("CL_LyFS_Get_Master_Device_Info", status);
    }
    if ((status = CL_LyFS_Create_Partition(image, LYFS_PART_FAT32, 16, &slot, &sectors, 0)) !=
            LYFS_OK ||
        (status = CL_LyFS_Create_Partition(image, LYFS_PART_LYFS, 1u << 20, &slot, &sectors, 0)) !=
            LYFS_OK) {
        return fail("CL_LyFS_Create_Partition", status);
    }
    if ((status = CL_LyFS_Format(image, "", LYFS_PART_LYFS, 0, &table)) != LYFS_OK) {
        return fail("CL_LyFS_Format", status);
    }
    return 0;
}

/* One write and one read of the whole payload, across many clusters. */
static int write_file(dev_desc* card, const char* path, const unsigned char* bytes, long size) {
    const uint32_t fd = CL_LyFS_File_Open(card, path, "w", 0, 0, 0);
    if (fd == LYFS_INVALID_FD || CL_LyFS_File_Write(card, bytes, (uint32_t)size, fd) != size) {
        return fail("CL_LyFS_File_Open w and CL_LyFS_File_Write", -1);
    }
    return CL_LyFS_File_Close(card, fd) == LYFS_OK ? 0 : fail("CL_LyFS_File_Close", -1);
}

/* Reads run to the end of the file's last cluster: the size bounds them. */
static int compare_file(dev_desc* card, const char* path, const unsigned char* bytes, long size) {
    FileInfo info;
    unsigned char* read = malloc((size_t)size);
    memset(&info, 0, sizeof info);
    const uint32_t fd = CL_LyFS_File_Open(card, path, "r", 0, 0, 0);
    int failed = fd == LYFS_INVALID_FD || CL_LyFS_Get_FileInfo(card, fd, &info) != LYFS_OK ||
                 (long)info.file_size != size ||
                 CL_LyFS_File_Read(card, read, (uint32_t)size, fd) != size ||
                 memcmp(read, bytes, (size_t)size) != 0;
    free(read);
    if (failed) {
        return fail("reading the file back", (long)info.file_size);
    }
    return CL_LyFS_File_Close(card, fd) == LYFS_OK ? 0 : fail("CL_LyFS_File_Close", -1);
}

int main(int argc, char** argv) {
    dev_desc card;
    char path[64];
    long size = 0;
    int failed = 0;
    unsigned char* payload = argc == 5 ? read_payload(argv[3], &size) : NULL;
    if (payload == NULL || strlen(argv[4]) > 40) {
        printf("usage: lyfs_host make|read IMAGE PAYLOAD NAME\n");
        return 2;
    }
    snprintf(path, sizeof path, "/DATA/%s", argv[4]);
    memset(&card, 0, sizeof card);
    if (CL_LyFS_Start() != LYFS_OK) {
        return fail("CL_LyFS_Start", -1);
    }
    CL_LyFS_File_Delete_Callback_Register(on_delete);
    /* The data export is reachable through the import library too. */
    if (fptr_file_delete_cb != 0) {
        return fail("reading fptr_file_delete_cb", (long)fptr_file_delete_cb);
    }
    if (strcmp(argv[1], "make") == 0) {
        failed = prepare(argv[2]);
    }
    if (!failed && CL_LyFS_Device_Open(argv[2], "card", 0, &card) != LYFS_OK) {
        failed = fail("CL_LyFS_Device_Open", -1);
    }
    if (!failed && strcmp(argv[1], "make") == 0) {
        failed = write_file(&card, path, payload, size);
    }
    failed = failed || compare_file(&card, path, payload, size);
    if (card.part_handle != 0 && CL_LyFS_Device_Close(&card) != LYFS_OK) {
        failed = fail("CL_LyFS_Device_Close", -1);
    }
    CL_LyFS_Stop();
    free(payload);
    if (!failed) {
        printf("lyfs_host: %s %s: %s, %ld bytes, same bytes\n", argv[1], argv[2], path, size);
    }
    return failed;
}
