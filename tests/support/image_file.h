// A sparse card image in /tmp, removed with the object.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace lyfs::test {

class ImageFile {
public:
    explicit ImageFile(off_t bytes) {
        char name[] = "/tmp/lyfs-image-XXXXXX";
        const int fd = ::mkstemp(name);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::ftruncate(fd, bytes), 0);
        ::close(fd);
        path_ = name;
    }
    ~ImageFile() { ::unlink(path_.c_str()); }
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    const char* path() const { return path_.c_str(); }
    std::vector<std::uint8_t> bytes() const {
        std::ifstream in(path_, std::ios::binary | std::ios::ate);
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(in.tellg()));
        in.seekg(0).read(reinterpret_cast<char*>(bytes.data()),
                         static_cast<std::streamsize>(bytes.size()));
        return bytes;
    }

private:
    std::string path_;
};

}  // namespace lyfs::test
