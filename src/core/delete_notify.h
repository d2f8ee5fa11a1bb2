// Telling the host about files the library deleted on its own.
#pragma once

#include <cstdint>

namespace lyfs {

// Calls the registered callback, if any, with the former fd and the path.
void CB_FILE_DELETED(std::uint32_t fd, std::uint32_t length, char* path);

}  // namespace lyfs
