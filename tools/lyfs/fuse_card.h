// A card view served to the kernel through FUSE (libfuse 3): the mount itself, kept out of
// every other file of the tool so that builds without FUSE leave it out.
#pragma once

#include <cstdint>
#include <string>

#include "card_view.h"

struct fuse;

namespace lyfs::tool {

// The most one read or write request moves: eight clusters, so a recording streams in large
// requests as the library likes them.
inline constexpr std::uint32_t kMaxTransferBytes = 1024 * 1024;

class FuseMount {
public:
    // Mounts the view at `mountpoint` with the comma-separated FUSE `options`; fails when
    // libfuse refuses them or the mount (libfuse says why on stderr).
    FuseMount(CardView& view, const std::string& mountpoint, const std::string& options);
    // Unmounts, if the file system is still mounted.
    ~FuseMount();
    FuseMount(const FuseMount&) = delete;
    FuseMount& operator=(const FuseMount&) = delete;

    // Answers the kernel, on several threads, until the file system is unmounted or the
    // process is asked to stop.
    void serve();

private:
    struct fuse* fuse_ = nullptr;
};

}  // namespace lyfs::tool
