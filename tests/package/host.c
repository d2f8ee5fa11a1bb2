/* A host program as people write them, built against an installed lyfs (the
   Debian package, or a Windows zip): copies a local file onto a card through
   the library, reads it back and compares. usage: host DEVICE LOCALFILE
   /FOLDER/NAME */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <lyfs/lyfs.h>

static int fail(const char* what, int32_t status) {
    fprintf(stderr, "host: %s: %s\n", what, lyfs_status_text(status));
    return 1;
}

static int copy_and_compare(dev_desc* card, const unsigned char* bytes, uint32_t size,
                            const char* path) {
    uint32_t fd = CL_LyFS_File_Open(card, path, "w", 0, 0, 0);
    if (fd == LYFS_INVALID_FD) {
        return fail("create", LYFS_FAIL);
    }
    /* Odd pieces, so that writes end inside sectors and clusters. */
    for (uint32_t done = 0; done < size;) {
        const uint32_t piece = size - done < 70001u ? size - done : 70001u;
        if (CL_LyFS_File_Write(card, bytes + done, piece, fd) != (int32_t)piece) {
            return fail("write", LYFS_FAIL);
        }
        done += piece;
    }
    if (CL_LyFS_File_Close(card, fd) != LYFS_OK) {
        return fail("close", LYFS_FAIL);
    }
    /* Reads end with the file's clusters, not its size: the size comes from its record. */
    FileInfo info;
    unsigned char* back = malloc(size);
    fd = CL_LyFS_File_Open(card, path, "r", 0, 0, 0);
    const int same = back && fd != LYFS_INVALID_FD &&
                     CL_LyFS_Get_FileInfo(card, fd, &info) == LYFS_OK && info.file_size == size &&
                     CL_LyFS_File_Read(card, back, size, fd) == (int32_t)size &&
                     memcmp(back, bytes, size) == 0;
    free(back);
    if (fd != LYFS_INVALID_FD) {
        CL_LyFS_File_Close(card, fd);
    }
    if (!same) {
        fprintf(stderr, "host: %s does not read back as the %lu bytes written\n", path,
                (unsigned long)size);
        return 1;
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: host DEVICE LOCALFILE /FOLDER/NAME\n");
        return 2;
    }
    FILE* local = fopen(argv[2], "rb");
    static unsigned char bytes[1u << 24];
    const size_t size = local ? fread(bytes, 1, sizeof bytes, local) : 0;
    if (!local || size == 0 || size == sizeof bytes) {
        fprintf(stderr, "host: cannot read %s (1 byte to 16 MiB)\n", argv[2]);
        return 1;
    }
    fclose(local);

    int32_t status = CL_LyFS_Start();
    if (status != LYFS_OK) {
        return fail("start", status);
    }
    dev_desc card;
    memset(&card, 0, sizeof card);
    status = CL_LyFS_Device_Open(argv[1], argv[1], 0, &card);
    if (status != LYFS_OK) {
        return fail(argv[1], status);
    }
    const int failed = copy_and_compare(&card, bytes, (uint32_t)size, argv[3]);
    status = CL_LyFS_Device_Close(&card);
    CL_LyFS_Stop();
    if (failed || status != LYFS_OK) {
        return failed ? 1 : fail("device close", status);
    }
    printf("host: %s -> %s on %s, %lu bytes read back as written\n", argv[2], argv[3], argv[1],
           (unsigned long)size);
    return 0;
}
