// check: a second opinion on a card from the independent checker, which shares no code with
// the library and never writes.
#include <cstdio>
#include <memory>

#include "card_checker.h"
#include "commands.h"
#include "device.h"
#include "failure.h"
#include "json_listing.h"
#include "units.h"

namespace lyfs::tool {
namespace {

struct CheckOptions {
    std::string device;
    bool json = false;
};

int run_check(const CheckOptions& options, const GlobalOptions& global) {
    require_device(options.device);
    check::FileSectorReader reader(options.device);
    if (!reader.is_open()) {
        throw Failure("cannot open " + options.device + " for reading");
    }
    const check::Report report = check::check_card(reader);
    const std::size_t problems = report.problems.size() + report.unlisted_problems;
    if (options.json) {
        std::fputs(check_document(options.device, report).text().c_str(), stdout);
        return problems == 0 ? kExitSuccess : kExitFailure;
    }
    if (global.verbosity > 0) {
        for (const std::string& note : report.notes) {
            std::printf("note: %s\n", note.c_str());
        }
    }
    for (const check::Problem& problem : report.problems) {
        std::printf("%s\n", problem.what.c_str());
    }
    if (problems == 0) {
        std::printf("%s: clean, %s in %s\n", options.device.c_str(),
                    counted(report.files.size(), "file").c_str(),
                    counted(report.folders.size(), "folder").c_str());
        return kExitSuccess;
    }
    std::printf("%s: %s\n", options.device.c_str(), counted(problems, "problem").c_str());
    return kExitFailure;
}

}  // namespace

void add_check_command(CLI::App& app, const GlobalOptions& global, Commands& commands) {
    auto options = std::make_shared<CheckOptions>();
    CLI::App* check_app = app.add_subcommand(
        "check",
        "Check the card's structure with the independent checker (read only); exit "
        "status 1 when it finds problems");
    check_app->add_option("DEVICE", options->device, "Block device or card image")->required();
    check_app->add_flag("--json", options->json,
                        "Print one JSON document for scripts, notes included (see README)");
    commands.push_back({check_app, [options, &global] { return run_check(*options, global); }});
}

}  // namespace lyfs::tool
