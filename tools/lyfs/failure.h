// How a command ends when it cannot do its job: main turns these into a message and an exit code.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

namespace lyfs::tool {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitSignalBase = 128;  // plus the signal's number, as a shell reports it

// The command could not be carried out (device, card or library trouble).
class Failure : public std::runtime_error {
public:
    // `library_said` is the line the library logged about the failure, if there is one.
    explicit Failure(const std::string& message, std::string library_said = {})
        : std::runtime_error(message), library_said_(std::move(library_said)) {}

    const std::string& library_said() const { return library_said_; }

private:
    std::string library_said_;
};

// The user stopped the command with a signal (Ctrl-C, SIGTERM, SIGHUP) and it undid what it
// had begun: main says what happened and exits with 128 + the signal's number, as a shell does.
class Interrupted : public Failure {
public:
    Interrupted(const std::string& message, int signal_number)
        : Failure(message), signal_number_(signal_number) {}

    int signal_number() const { return signal_number_; }

private:
    int signal_number_;
};

// The command line asked for something that cannot be meant (a malformed path or layout).
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// "status 45: no folder of that name": the number for bug reports, the words for people.
std::string status_words(std::int32_t status);

// The words for a failed library call: "no room" and "write-protected" as such, told from the
// status and from the line the library logged (library_failure()); status_words otherwise.
std::string failure_words(std::int32_t status, const std::string& library_said);

}  // namespace lyfs::tool
