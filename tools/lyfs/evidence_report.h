// What a copy of many files leaves beside them with --manifest, for those who must show that
// the copies are what the card held: SHA256SUMS, which sha256sum -c checks, and
// lyfs-report.txt, which tells what was on the card and what became of each file.
#pragma once

#include <string>
#include <vector>

#include "card.h"
#include "card_inventory.h"
#include "copy_out.h"
#include "diagnosis.h"

namespace lyfs::tool {

inline constexpr const char* kManifestName = "SHA256SUMS";
inline constexpr const char* kReportName = "lyfs-report.txt";

// Whether a file copied to `relative` would take the place of the manifest or the report.
bool takes_a_manifest_name(const std::string& relative);

// The line sha256sum writes for a file: the hash, two spaces, the name; a name with a
// backslash or a line end has them escaped and the line starts with a backslash.
std::string checksum_line(const std::string& sha256, const std::string& name);

// One file of the copy and what became of it.
struct CopiedFile {
    const InventoryFolder* folder = nullptr;
    const InventoryFile* file = nullptr;
    std::string relative;  // under the destination, folders separated by '/'
    CopyResult result;
};

struct CopySession {
    std::string source;       // "/" or "/FOLDER", as given
    std::string destination;  // the local folder
    std::string started;      // local_now()
    std::string finished;
    bool hash_device = true;
    std::vector<LeftOutFolder> left_out;  // folders the card lists that could not be copied
};

// Now, in this computer's local time and in UTC:
// "2026-12-07 20:30:12 local time (2026-12-07T19:30:12Z)".
std::string local_now();

// Writes SHA256SUMS: a line for every file the copy left, whole or (--keep-partial) in part.
void write_manifest(const CopySession& session, const std::vector<CopiedFile>& files);

// Writes lyfs-report.txt: the device, its size and (unless not wanted) the SHA-256 of all of it,
// read once now; the card's layout; every file with its size, record time and state, and what
// became of its copy; the checker's findings; the tool's version and the time of the copy.
void write_report(Card& card, const CardInventory& inventory, const CopySession& session,
                  const std::vector<CopiedFile>& files);

}  // namespace lyfs::tool
