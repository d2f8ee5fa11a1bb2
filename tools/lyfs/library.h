// The library for the life of one command: started and stopped, its diagnostic lines routed,
// and the files it reclaims on its own collected for the command to report.
#pragma once

#include <string>
#include <vector>

namespace lyfs::tool {

// Sends the library's diagnostic lines to stderr at verbosity 1, its trace lines too at 2.
// At any verbosity the failures it logs are kept, so that a message can say what it objected to.
void route_library_log(int verbosity);

// Forgets the failures logged so far: call before the operation whose failure is explained.
void forget_library_failures();

// The first failure logged since the last forget_library_failures, without its tag, or
// nothing. The library logs the innermost step of a failure first, which is the precise one.
std::string library_failure();

class Library {
public:
    Library();
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    // Paths ("/EVENT/NAME") of the files reclaimed since the last call, oldest first.
    static std::vector<std::string> take_reclaimed();
};

}  // namespace lyfs::tool
