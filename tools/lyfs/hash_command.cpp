// hash: the SHA-256 of a whole device or image, to show later that it is still the same.
#include <cstdio>
#include <memory>

#include "commands.h"
#include "device.h"
#include "evidence_report.h"
#include "failure.h"
#include "system.h"

namespace lyfs::tool {
namespace {

struct HashOptions {
    std::string device;
};

int run_hash(const HashOptions& options) {
    require_device(options.device);
    DeviceReader reader(options.device);
    catch_interruptions();
    const std::string hash = hash_device(reader, options.device);
    std::fputs(checksum_line(hash, options.device).c_str(), stdout);
    return kExitSuccess;
}

}  // namespace

void add_hash_command(CLI::App& app, Commands& commands) {
    auto options = std::make_shared<HashOptions>();
    CLI::App* hash_app = app.add_subcommand(
        "hash",
        "Print the SHA-256 of the whole device, read once from start to end (never written), "
        "in the form of sha256sum");
    hash_app->add_option("DEVICE", options->device, "Block device or card image")->required();
    commands.push_back({hash_app, [options] { return run_hash(*options); }});
}

}  // namespace lyfs::tool
