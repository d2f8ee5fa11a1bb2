#include "reference.h"

#include <algorithm>

namespace lyfs::tool {
namespace {

constexpr ReferenceRow kExitStatuses[] = {
    {"0", "success"},
    {"1",
     "failure: the message gives the library's status in words and, when there is one, the "
     "line the library logged about it; check exits 1 when it finds problems, get of a folder "
     "when it skipped a file, umount when a file could not be committed or the card flushed"},
    {"2", "a mistake on the command line"},
    {"128+N",
     "get or put was stopped by signal N (130 SIGINT, 143 SIGTERM, 129 SIGHUP) and took back "
     "what it had begun"},
};

// Each refusal comes before anything on the card changes, with one log line.
constexpr ReferenceRow kMountRefusals[] = {
    {"EPERM", "rename, delete (rm), mkdir, rmdir, links, chmod, chown, touch of a recording"},
    {"EPERM", "opening a recording for writing, or truncating it"},
    {"EPERM", "a file beside the folders"},
    {"EINVAL", "a new name shorter than 9 characters"},
    {"ENAMETOOLONG", "a new name longer than 39 characters"},
    {"EINVAL",
     "a new name the card does not take (one of / \\ : * ? \" < > |, a control character, not "
     "ASCII, ending in a space or a dot)"},
    {"EEXIST", "a name the folder lists already, or holds on the card under another local name"},
    {"ESPIPE", "a write anywhere but at the end of a new file"},
    {"EFBIG", "a new file larger than the largest file (lyfs info)"},
    {"ENOSPC", "the folder cannot make room (its oldest recording is open, or it is too small)"},
    {"EBUSY", "opening a new file for reading while it is still being written"},
    {"EACCES", "creating or writing as another user than the one who mounted"},
    {"EROFS", "anything that writes, on a read-only mount"},
};

constexpr ReferenceTable kTables[] = {
    {"", "Exit status", "", kExitStatuses},
    {"mount", "What the card cannot do",
     "is refused before anything changes, with one log line and the nearest error:",
     kMountRefusals},
};

constexpr std::size_t kHelpWidth = 100;

// Words of `text` on lines of at most `width` characters, each later line indented by `indent`.
std::string wrapped(std::string_view text, std::size_t indent, std::size_t width) {
    std::string out;
    std::size_t column = indent;
    while (!text.empty()) {
        const std::size_t end = text.find(' ');
        const std::string_view word = text.substr(0, end);
        if (column > indent && column + 1 + word.size() > width) {
            out += '\n' + std::string(indent, ' ');
            column = indent;
        } else if (column > indent) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    }
    return out;
}

}  // namespace

std::span<const ReferenceTable> reference_tables() {
    return kTables;
}

std::string reference_text(const ReferenceTable& table) {
    std::size_t key_width = 0;
    for (const ReferenceRow& row : table.rows) {
        key_width = std::max(key_width, row.key.size());
    }
    const std::size_t indent = 2 + key_width + 2;
    std::string text = std::string(table.title) + (table.intro.empty() ? ":" : " ");
    text = wrapped(text + std::string(table.intro), 0, kHelpWidth) + '\n';
    for (const ReferenceRow& row : table.rows) {
        std::string line = "  " + std::string(row.key);
        line.resize(indent, ' ');
        text += line + wrapped(row.meaning, indent, kHelpWidth) + '\n';
    }
    return text;
}

void add_reference_footers(CLI::App& app) {
    for (const ReferenceTable& table : reference_tables()) {
        if (table.command.empty()) {
            app.footer(reference_text(table));
            continue;
        }
        for (CLI::App* command : app.get_subcommands([](CLI::App*) { return true; })) {
            if (command->get_name() == table.command) {
                command->footer(reference_text(table));
            }
        }
    }
}

}  // namespace lyfs::tool
