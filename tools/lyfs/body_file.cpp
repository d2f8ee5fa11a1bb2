#include "body_file.h"

#include <cstdio>

#include "names.h"
#include "record_time.h"

namespace lyfs::tool {
namespace {

// Recordings are shown read-only everywhere, in the form fls gives a regular file's mode.
constexpr const char* kMode = "r/rr--r--r--";

std::string field(const std::string& path) {
    std::string escaped;
    for (const char c : path) {
        escaped += c == '|' ? "\\x7C" : c == '\\' ? "\\\\" : std::string(1, c);
    }
    return printable(escaped);
}

}  // namespace

void print_body_file(const CardInventory& inventory) {
    for (const InventoryFolder& folder : inventory.folders()) {
        for (const InventoryFile& file : folder.files) {
            const long long time = file.recorded ? epoch_of(*file.recorded) : 0;
            const std::string inode =
                file.record != nullptr ? std::to_string(file.record->slot) : "";
            std::printf("0|%s|%s|%s|0|0|%u|0|%lld|0|%lld\n",
                        field("/" + folder.local_name + "/" + file.listed.local_name).c_str(),
                        inode.c_str(), kMode, file.listed.info.file_size, time, time);
        }
    }
}

}  // namespace lyfs::tool
