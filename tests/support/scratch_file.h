// A card-image file in the system's temporary folder, removed with the object.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace lyfs::test {

class ScratchFile {
public:
    // `bytes` zero bytes, taking no space where the file system allows holes.
    explicit ScratchFile(std::uint64_t bytes) : path_(unique_path().string()) {
        std::ofstream(path_, std::ios::binary).close();
        std::filesystem::resize_file(path_, bytes);
    }
    ~ScratchFile() {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove(path_, ignored);
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const char* path() const { return path_.c_str(); }
    // Read in one piece: byte by byte takes minutes in the unoptimised coverage build.
    std::vector<std::uint8_t> bytes() const {
        std::vector<std::uint8_t> out(std::filesystem::file_size(path_));
        std::ifstream(path_, std::ios::binary)
            .read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
        return out;
    }

    // Takes the write permission away; false when this user can write the
    // file all the same (root on POSIX), so nothing can be learnt from it.
    bool make_read_only() const {
        std::filesystem::permissions(path_,
                                     std::filesystem::perms::owner_write |
                                         std::filesystem::perms::group_write |
                                         std::filesystem::perms::others_write,
                                     std::filesystem::perm_options::remove);
        return !std::fstream(path_, std::ios::in | std::ios::out | std::ios::binary).is_open();
    }

private:
    static std::filesystem::path unique_path() {
        // Tests run in several processes at once.
        static std::atomic<unsigned> counter{0};
        return std::filesystem::temp_directory_path() /
               ("lyfs-test-" + std::to_string(std::random_device{}()) + "-" +
                std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
                std::to_string(++counter) + ".img");
    }

    std::string path_;
};

}  // namespace lyfs::test
