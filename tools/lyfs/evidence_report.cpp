#include "evidence_report.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "copy_destination.h"
#include "device.h"
#include "file_records.h"
#include "listing.h"
#include "names.h"
#include "record_time.h"
#include "system.h"
#include "units.h"

namespace lyfs::tool {
namespace {

std::string lower_case(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Replaces the file at `path` with `text` only once all of it is written.
void write_text_file(const std::string& path, const std::string& text) {
    CopyDestination file(path);
    file.write_all(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    file.keep();
}

std::string path_in(const CopySession& session, const char* name) {
    return path_text(local_path(session.destination) / name);
}

// What the card says of the file, and what became of its copy.
std::string state_of(const CopiedFile& copied) {
    const check::FileSummary* record = copied.file->record;
    const std::string on_card = record == nullptr ? "no record found by the checker"
                                : !record->committed()
                                    ? "recovered whole-cluster (its writer never closed it)"
                                : !record->damage.empty() ? "damaged: " + damage_words(*record)
                                                          : "committed";
    const CopyResult& result = copied.result;
    const std::string copy = result.failure.empty() ? "copied"
                             : result.kept          ? "partly copied: " + result.failure
                                                    : "skipped: " + result.failure;
    return on_card + "; " + printable(copy);
}

std::string file_lines(const std::vector<CopiedFile>& files) {
    std::string lines;
    for (const CopiedFile& copied : files) {
        const InventoryFile& file = *copied.file;
        // A file never committed is listed with no size until it is read as its whole clusters.
        const std::uint64_t size =
            copied.result.failure.empty() ? copied.result.read : file.listed.info.file_size;
        char line[96];
        std::snprintf(line, sizeof line, "  %11llu  %-19s  ", static_cast<unsigned long long>(size),
                      file.recorded ? shown_time(*file.recorded).c_str() : "unknown");
        lines += line + printable(copied.relative);
        if (file.listed.card_name != file.listed.local_name) {
            lines += " (on the card: /" + printable(copied.folder->name) + "/" +
                     printable(file.listed.card_name) + ")";
        }
        lines += "\n    " + state_of(copied) + "\n";
        if (!copied.result.sha256.empty()) {
            lines += "    sha256 " + copied.result.sha256 + " of " +
                     std::to_string(copied.result.read) + " bytes\n";
        }
    }
    return lines;
}

std::string checker_lines(const check::Report& report) {
    std::string lines;
    for (const check::Problem& problem : report.problems) {
        lines += "  " + problem.what + "\n";
    }
    const std::size_t problems = report.problems.size() + report.unlisted_problems;
    lines += problems == 0 ? "  clean, " + counted(report.files.size(), "file") + " in " +
                                 counted(report.folders.size(), "folder") + "\n"
                           : "  " + counted(problems, "problem") + "\n";
    for (const std::string& note : report.notes) {
        lines += "  note: " + note + "\n";
    }
    return lines;
}

}  // namespace

bool takes_a_manifest_name(const std::string& relative) {
    const std::string first = lower_case(relative.substr(0, relative.find('/')));
    return first == lower_case(kManifestName) || first == lower_case(kReportName);
}

std::string checksum_line(const std::string& sha256, const std::string& name) {
    std::string escaped;
    for (const char c : name) {
        escaped += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : std::string(1, c);
    }
    return (escaped.size() != name.size() ? "\\" : "") + sha256 + "  " + escaped + "\n";
}

std::string local_now() {
    const std::time_t now = std::time(nullptr);
    char local[32] = "";
    char utc[32] = "";
    std::strftime(local, sizeof local, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
    std::strftime(utc, sizeof utc, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
    return std::string(local) + " local time (" + utc + ")";
}

void write_manifest(const CopySession& session, const std::vector<CopiedFile>& files) {
    std::string lines;
    for (const CopiedFile& copied : files) {
        if (copied.result.kept) {
            lines += checksum_line(copied.result.sha256, copied.relative);
        }
    }
    write_text_file(path_in(session, kManifestName), lines);
}

void write_report(Card& card, const CardInventory& inventory, const CopySession& session,
                  const std::vector<CopiedFile>& files) {
    DeviceReader reader(card.device());
    const std::string device_hash =
        session.hash_device ? hash_device(reader, card.device()) : "not taken (--no-device-hash)";
    const lyfs_part_slot& slot = card.handle()->slots[1];
    const std::uint64_t cluster = std::uint64_t{card.sectors_per_cluster()} * kSectorBytes;
    std::string text = "lyfs " LYFS_VERSION " copy report\n\n";
    text += "copy started:        " + session.started + "\n";
    text += "copy finished:       " + session.finished + "\n";
    text += "copied:              " + session.source + " to " + session.destination + "\n";
    text += "device:              " + card.device() + " (" +
            (is_block_device(card.device()) ? "block device" : "card image file") + ")\n";
    text += "device size:         " + std::to_string(reader.size()) + " bytes (" +
            format_size(reader.size()) + ")\n";
    text += "device SHA-256:      " + device_hash + "\n";
    text += "write-protected:     " +
            std::string(card.mount_mode() == LYFS_MOUNT_WRITE_PROTECTED ? "yes" : "no") +
            " (read through a read-only mount: nothing was written)\n";
    text += "card file system:    slot 1, from sector " + std::to_string(slot.first_sector) + ", " +
            format_sectors(slot.sector_count) + "\n";
    text += "sectors per cluster: " + std::to_string(card.sectors_per_cluster()) + " (" +
            format_size(cluster) + " clusters)\n\n";
    text += folder_table(folder_rows(card));
    for (const LeftOutFolder& left_out : session.left_out) {
        text += "not copied: " + left_out_words(left_out) + "\n";
    }
    text += "\n";
    text += "FILES: bytes, record time, path under " + session.destination +
            "; what the card holds of it, what became of the copy\n";
    text += file_lines(files) + "\n";
    text += "CHECKER\n" + checker_lines(inventory.records().report());
    write_text_file(path_in(session, kReportName), text);
}

}  // namespace lyfs::tool
