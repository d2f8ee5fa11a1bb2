// Drives the mount's view of a card (what lyfs mount serves, without the kernel) over the
// corrupt cards of the mount target's inputs, on an image file: through a read-only view and
// then a read-write one, lists every folder, stats every file and reads it at a few offsets;
// the read-write view then copies a file into each folder, one of them spoilt by a write out of
// place. Whatever the card holds, nothing may crash, hang or leak, the read-only view must
// write nothing at all, and the read-write one nothing outside the FAT and the folders.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base_card.h"
#include "card.h"
#include "card_view.h"
#include "failure.h"
#include "run_input.h"
#include "support/pattern.h"

namespace lyfs::fuzz {
namespace {

constexpr std::size_t kFilesPerFolder = 12;
constexpr std::size_t kPiece = 70'000;

// The image the runs share, rewritten for each input; in memory where the system has a
// folder for that.
const std::string& image_path() {
    static const std::string path = [] {
        namespace fs = std::filesystem;
        const fs::path folder =
            fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path();
        return (folder / ("lyfs-fuzz-view-" + std::to_string(::getpid()) + ".img")).string();
    }();
    // Registered once the path is made, so that it is removed before the path is destroyed.
    [[maybe_unused]] static const int removed_at_exit =
        std::atexit([] { std::remove(path.c_str()); });
    return path;
}

// The card as the input left it, on the image file: the base card's sectors and the ones an
// input may change, every other sector zero.
void put_on_image(const test::MemoryDevice& card) {
    const int fd = ::open(image_path().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    require(fd >= 0 && ::ftruncate(fd, 0) == 0 &&
                ::ftruncate(fd, static_cast<off_t>(BaseCard::kDeviceBytes)) == 0,
            "making the image");
    std::vector<std::uint32_t> lbas;
    for (const auto& [lba, bytes] : BaseCard::get().sectors()) {
        lbas.push_back(lba);
    }
    for (const PatchableSector& sector : BaseCard::get().patchable()) {
        lbas.push_back(sector.lba);
    }
    for (std::uint32_t lba : lbas) {
        require(::pwrite(fd, card.sector(lba).data(), 512, off_t{lba} * 512) == 512,
                "writing the image");
    }
    ::close(fd);
}

void read_file(tool::CardView& view, const std::string& path) {
    tool::NodeInfo info;
    if (view.stat(path, &info) != 0) {
        return;
    }
    tool::CardView::Handle* handle = nullptr;
    bool uncached = false;
    if (view.open(path, false, &handle, &uncached) != 0) {
        return;
    }
    static std::vector<char> buffer(kPiece);
    for (std::uint64_t at :
         {std::uint64_t{0}, info.size / 2, info.size - std::min<std::uint64_t>(info.size, 1000)}) {
        const int got = view.read(handle, buffer.data(), buffer.size(), at);
        require(got <= static_cast<int>(buffer.size()), "read more than asked");
    }
    view.release(handle);
}

void copy_in(tool::CardView& view, const std::string& path, bool spoil) {
    static const std::vector<std::uint8_t> bytes = test::pattern(2 * kPiece, 3);
    tool::CardView::Handle* handle = nullptr;
    if (view.create(path, &handle) != 0) {
        return;
    }
    const char* data = reinterpret_cast<const char*>(bytes.data());
    if (view.write(handle, data, kPiece, 0) == static_cast<int>(kPiece)) {
        view.write(handle, data + kPiece, kPiece, spoil ? 1 : kPiece);
    }
    view.flush(handle);
    view.release(handle);
}

void exercise(tool::CardView& view, const std::string& new_name) {
    std::vector<std::string> folders;
    require(view.list("/", &folders) == 0, "listing the root");
    for (std::size_t k = 0; k < folders.size(); ++k) {
        const std::string folder = "/" + folders[k];
        std::vector<std::string> names;
        view.list(folder, &names);
        for (std::size_t i = 0; i < names.size() && i < kFilesPerFolder; ++i) {
            read_file(view, folder + "/" + names[i]);
        }
        if (view.read_only()) {
            tool::CardView::Handle* handle = nullptr;
            require(view.create(folder + "/" + new_name, &handle) != 0,
                    "a read-only view created a file");
        } else {
            copy_in(view, folder + "/" + new_name, k == 1);
        }
    }
    tool::CardSpace space;
    view.space(&space);
}

void run(test::TestPlatform& platform, const RunSetup& setup, WriteGuard& guard) {
    for (bool read_only : {true, false}) {
        try {
            tool::Card mounted(image_path(), read_only ? tool::Card::Access::ReadOnly
                                                       : tool::Card::Access::ReadWrite);
            if (read_only) {  // both views see the same folders
                guard.restrict_to_folders(folder_regions(*mounted.handle()));
            }
            const std::uint64_t writes = platform.counters.writes;
            {
                tool::CardView view(mounted, read_only, [](const std::string&) {});
                exercise(view, setup.name);
                view.close_all();
            }
            require(!read_only || platform.counters.writes == writes,
                    "a read-only view wrote to the card");
        } catch (const tool::Failure&) {
            // A card the tool cannot mount: it says why, and nothing is served.
        }
    }
}

}  // namespace
}  // namespace lyfs::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    lyfs::fuzz::run_input(data, size, lyfs::fuzz::put_on_image, lyfs::fuzz::run);
    return 0;
}
