// The body file of file-system timelines, as fls -m writes it and mactime -b reads it: one line
// per recording, MD5|name|inode|mode|UID|GID|size|atime|mtime|ctime|crtime.
#pragma once

#include "card_inventory.h"

namespace lyfs::tool {

// The name is /FOLDER/NAME under the local names, as lyfs get of the whole card lays the copies
// out, with |, \ and what would drive a terminal written as \x7C, \\ and \xHH; the inode is the
// record's slot (empty when the checker found no record for the file); the record time is the
// mtime and the crtime, as this computer's local time (as the mount shows it), and 0 where the
// record holds no valid date. The other times are not on the card: 0.
void print_body_file(const CardInventory& inventory);

}  // namespace lyfs::tool
