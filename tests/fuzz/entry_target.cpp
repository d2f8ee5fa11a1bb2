// Decodes the input's first 128 bytes as a file-entry record, then builds a
// record for a name taken from the rest of the input: whenever the name is
// accepted, its record must decode to that name and cluster again and must
// read as a slot that holds a file.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "entry/file_entry.h"
#include "lyfs/lyfs.h"

namespace {

constexpr std::size_t kRecordBytes = 128;

[[noreturn]] void fail(const char* what, const std::string& name) {
    std::fprintf(stderr, "fuzz entry: %s (name of %zu bytes)\n", what, name.size());
    __builtin_trap();
}

// Exactly sized heap copies, so that AddressSanitizer sees any reach past them.
void decode(const std::uint8_t* bytes) {
    auto record = std::make_unique<std::uint8_t[]>(kRecordBytes);
    std::memcpy(record.get(), bytes, kRecordBytes);
    auto name = std::make_unique<char[]>(lyfs::kFileNameBytes);
    std::uint8_t attribute = 0;
    std::uint32_t cluster = 0;
    std::uint32_t size = 0;
    const int32_t status =
        lyfs::extract_file_entry(record.get(), name.get(), &attribute, &cluster, &size);
    if ((status == LYFS_OK) != (bytes[lyfs::record::kAttr] == lyfs::kAttrFile)) {
        fail("a record was judged by more than its attribute", "");
    }
    if (status == LYFS_OK && std::strlen(name.get()) > lyfs::kMaxFileNameLength) {
        fail("decoded name too long", name.get());
    }
}

void round_trip(const std::string& name, std::uint32_t cluster) {
    std::uint8_t record[kRecordBytes] = {};
    if (lyfs::setup_file_entry(record, name.c_str(), cluster) != LYFS_OK) {
        if (name.size() >= lyfs::kMinFileNameLength && name.size() <= lyfs::kMaxFileNameLength) {
            fail("a name of valid length was refused", name);
        }
        return;
    }
    char decoded[lyfs::kFileNameBytes];
    std::uint8_t attribute = 0;
    std::uint32_t decoded_cluster = 0;
    std::uint32_t size = 1;
    if (lyfs::extract_file_entry(record, decoded, &attribute, &decoded_cluster, &size) != LYFS_OK) {
        fail("a record the library built does not decode", name);
    }
    if (name != decoded || decoded_cluster != cluster || size != 0) {
        fail("a record does not give back its name, cluster and size", name);
    }
    if (!lyfs::file_entry_in_use(record)) {
        fail("a record the library built reads as an empty slot", name);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kRecordBytes) {
        return 0;
    }
    decode(data);
    const char* rest = reinterpret_cast<const char*>(data + kRecordBytes);
    const std::string name(rest, strnlen(rest, size - kRecordBytes));
    const std::uint32_t cluster =
        data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<std::uint32_t>(data[3]) << 24);
    round_trip(name, cluster);
    return 0;
}
