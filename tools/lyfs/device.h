// The device a command works on: a block device such as /dev/sdb, or a card image file.
#pragma once

#include <cstdint>
#include <string>

#include "lyfs/lyfs.h"
#include "system.h"

namespace lyfs::tool {

// Fails with the system's words when the path is missing or neither kind of device.
void require_device(const std::string& path);

bool is_block_device(const std::string& path);

// Fails at once, before any question is asked, when the device cannot be opened for writing:
// the card's write-protect switch, a read-only device node or image.
void require_writable(const std::string& path);

// Sectors per cluster and size, as the library sees the device (which it then holds).
lyfs_device_info read_device_info(const std::string& path);

// Fails with a message that says so when `status` tells that another program holds the device.
void require_not_in_use(const std::string& path, std::int32_t status);

// Asks on the terminal before a block device is overwritten; image files need no question.
// Fails when the answer is not yes.
void confirm_overwrite(const std::string& path, const std::string& what, bool assume_yes);

// The SHA-256 of the whole device or image, read once from start to end with a progress bar;
// stops with Interrupted when a signal was caught (catch_interruptions).
std::string hash_device(DeviceReader& reader, const std::string& path);

// The largest file the card can hold: the library tracks at most 256 MiB of whole clusters.
std::uint64_t largest_file_bytes(std::uint32_t sectors_per_cluster);

}  // namespace lyfs::tool
