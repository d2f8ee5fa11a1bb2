#include "library.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "failure.h"
#include "lyfs/lyfs.h"
#include "names.h"

namespace lyfs::tool {
namespace {

constexpr std::string_view kErrorTag = "[ERROR]";

bool g_echo = false;

// Each thread notes the failures of its own library calls: lyfs mount calls the library from
// several threads at once, and the library logs on the calling thread.
struct FailureNote {
    bool kept = false;
    std::string first;
};

thread_local FailureNote t_failure;

// The library holds its locks while it calls these two, so they only take notes.
void receive_log_line(const char* line, void* /*user*/) {
    const std::string_view text(line);
    if (g_echo) {
        // Lines can quote names from the card.
        try {
            std::fputs(printable(text.substr(0, text.find_last_not_of('\n') + 1)).c_str(), stderr);
            std::fputc('\n', stderr);
        } catch (...) {  // out of memory: the line is not shown
        }
    }
    if (!t_failure.kept && text.starts_with(kErrorTag)) {
        std::string_view detail = text.substr(kErrorTag.size());
        while (!detail.empty() && (detail.back() == '\n' || detail.back() == '\r')) {
            detail.remove_suffix(1);
        }
        try {
            t_failure.first = detail;
            t_failure.kept = true;
        } catch (...) {  // out of memory: the message just goes without the detail
        }
    }
}

std::vector<std::string> g_reclaimed;

void receive_reclaimed(std::uint32_t /*fd*/, std::uint32_t length, char* path) {
    try {
        g_reclaimed.emplace_back(path, length);
    } catch (...) {  // out of memory: the report of this one file is lost, the card is fine
    }
}

}  // namespace

std::string status_words(std::int32_t status) {
    return "status " + std::to_string(status) + ": " + lyfs_status_text(status);
}

std::string failure_words(std::int32_t status, const std::string& library_said) {
    const auto said = [&library_said](std::string_view text) {
        return library_said.find(text) != std::string::npos;
    };
    // A transfer the device refused for its write protection ends in that system code.
    constexpr std::string_view kRefusedWrite = "WriteFile failed";
    constexpr std::string_view kWriteProtectCode = ", 19";
    if (status == LYFS_ERR_WRITE_PROTECTED || said("write-protected") ||
        (said(kRefusedWrite) && library_said.ends_with(kWriteProtectCode))) {
        return "the card is write-protected";
    }
    // The oldest file that would make room is open: for the tool, which holds the card alone,
    // that is the file it writes.
    if (said("no file left to delete") || said("oldest file is open") ||
        said("invalid free space") || said("doesn't find free fat entry")) {
        return "no room left in the folder";
    }
    if (said("doesn't find free file entry") || said("folder has no file entry")) {
        return "no room: every file entry of the folder is in use";
    }
    return status_words(status);
}

void route_library_log(int verbosity) {
    // The library's own switch for its log still works through the tool.
    if (verbosity == 0 && std::getenv("LYFS_DEBUG") != nullptr) {
        verbosity = 1;
    }
    g_echo = verbosity > 0;
    lyfs_set_debug_output(receive_log_line, nullptr, verbosity > 1 ? 1 : 0);
}

void forget_library_failures() {
    t_failure.kept = false;
    t_failure.first.clear();
}

std::string library_failure() {
    return t_failure.kept ? t_failure.first : std::string();
}

Library::Library() {
    if (const std::int32_t status = CL_LyFS_Start(); status != LYFS_OK) {
        throw Failure("cannot start the library: " + status_words(status));
    }
    CL_LyFS_File_Delete_Callback_Register(receive_reclaimed);
}

Library::~Library() {
    CL_LyFS_File_Delete_Callback_Register(nullptr);
    CL_LyFS_Stop();
    g_reclaimed.clear();
}

std::vector<std::string> Library::take_reclaimed() {
    std::vector<std::string> taken;
    taken.swap(g_reclaimed);
    return taken;
}

}  // namespace lyfs::tool
