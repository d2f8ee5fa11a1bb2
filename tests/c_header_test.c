/* Compiles the public header as C (its layout checks included) and calls the
   library through it as a C host would; on Windows through the import library,
   the data symbol included. */
#include <stdio.h>
#include <string.h>

#include "lyfs/lyfs.h"

int main(void) {
    dev_desc record;
    lyfs_device_info info;
    memset(&record, 0, sizeof record);
    memset(&info, 0xAB, sizeof info);
    /* No mounted partition behind a zero word: 44, the record left alone. */
    if (CL_LyFS_Start() != LYFS_OK ||
        CL_LyFS_Get_Device_Info(&record, &info) != LYFS_ERR_NO_PARTITION ||
        info.total_sectors != 0xABABABABu || fptr_file_delete_cb != 0 ||
        CL_LyFS_Stop() != LYFS_OK || CL_LyFS_Stop() != LYFS_OK) {
        return 1;
    }
    printf("C host: %s\n", lyfs_status_text(LYFS_ERR_NO_PARTITION));
    return 0;
}
