#include "run_input.h"

#include <algorithm>

#include "base_card.h"
#include "core/handles.h"
#include "device/partition.h"
#include "folder/folder.h"
#include "platform/memory.h"

namespace lyfs::fuzz {
namespace {

// Patches `card` (holding the base card) and arms the platform's faults as the input says.
RunSetup apply_input(const std::uint8_t* data, std::size_t size, test::TestPlatform& platform,
                     test::MemoryDevice& card) {
    const std::vector<PatchableSector>& patchable = BaseCard::get().patchable();
    RunSetup setup;
    test::Fault fault;
    fault.nth = 0;
    for (std::size_t at = 0; size - at >= 4;) {
        const std::uint8_t selector = data[at];
        const std::uint32_t value = data[at + 1] | (data[at + 2] << 8);
        const std::uint8_t* bytes = data + at + 4;
        const std::size_t take = selector < 0xF0 || selector == 0xF4
                                     ? std::min<std::size_t>(data[at + 3], size - at - 4)
                                     : 0;
        at += 4 + take;
        setup.intact = setup.intact && selector >= 0xF4;
        if (selector < 0xF0) {
            const std::uint64_t lba = patchable[selector % patchable.size()].lba;
            card.write(lba * 512 + value % 512, bytes,
                       static_cast<std::uint32_t>(std::min<std::size_t>(take, 512 - value % 512)));
        } else if (selector == 0xF0) {
            setup.failing_allocation = value;
        } else if (selector <= 0xF2) {
            fault.op = selector == 0xF2 ? test::IoOp::kWrite : test::IoOp::kRead;
            fault.nth = value;
        } else if (selector == 0xF3) {
            platform.fail_flush = true;
        } else if (selector == 0xF4) {
            setup.name.assign(bytes, bytes + take);
        }
    }
    if (fault.nth != 0) {
        platform.arm(fault);
    }
    return setup;
}

}  // namespace

void run_input(const std::uint8_t* data, std::size_t size,
               const std::function<void(const test::MemoryDevice&)>& prepare,
               const std::function<void(test::TestPlatform&, const RunSetup&, WriteGuard&)>& body) {
    const BaseCard& base = BaseCard::get();  // built first: it brings up a platform of its own
    test::TestPlatform platform;
    test::MemoryDevice& card = platform.add_card("fuzz", BaseCard::kDeviceBytes);
    base.restore(card);
    const RunSetup setup = apply_input(data, size, platform, card);
    if (prepare) {
        prepare(card);
    }
    WriteGuard guard(card.sector(0).data(), card.size() / 512);

    const std::uint64_t handles_before = live_handle_count();
    platform::fail_allocation_at(setup.failing_allocation);
    if (CL_LyFS_Start() == LYFS_OK) {
        body(platform, setup, guard);
    }
    CL_LyFS_Stop();
    platform::fail_allocation_at(0);
    require(!guard.first_stray_write(platform.log), "write outside the FAT and the folders");
    require(live_handle_count() == handles_before, "handles left behind");
    require(platform.open_devices() == 0, "devices left open");
}

std::vector<Range> folder_regions(const dev_desc& desc) {
    std::vector<Range> regions;
    const auto* part = resolve<stPARTITION>(desc.part_handle, HandleKind::kPartition);
    for (const stFOLDER* f = part != nullptr ? part->folder_list : nullptr; f != nullptr;
         f = f->next) {
        regions.push_back({f->start_cluster, std::uint64_t{f->start_cluster} + f->total_clusters});
    }
    return regions;
}

}  // namespace lyfs::fuzz
