#include "manual.h"

#include <cctype>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "reference.h"

namespace lyfs::tool {
namespace {

// A positional is tagged by a validator of one of these names that accepts everything, so the
// tag stays on the option itself and shows nowhere in --help.
constexpr std::pair<const char*, OnCard> kOnCardTags[] = {
    {"on card: folder", OnCard::kFolder},
    {"on card: folder or file", OnCard::kFolderOrFile},
};

std::optional<OnCard> on_card(CLI::Option* option) {
    for (const auto& [tag, what] : kOnCardTags) {
        try {
            option->get_validator(tag);
            return what;
        } catch (const CLI::OptionNotFound&) {
        }
    }
    return std::nullopt;
}

// Options of the empty group are hidden, as in --help.
bool shown(const CLI::Option* option) {
    return !option->get_group().empty();
}

std::vector<CLI::Option*> positionals(CLI::App* app) {
    return app->get_options(
        [](CLI::Option* option) { return option->get_positional() && shown(option); });
}

// Named options, the command's --help left out (every command has one).
std::vector<CLI::Option*> named_options(CLI::App* app) {
    const CLI::Option* help = app->get_help_ptr();
    return app->get_options([help](CLI::Option* option) {
        return !option->get_positional() && shown(option) && option != help;
    });
}

std::vector<CLI::App*> commands_of(CLI::App& app) {
    return app.get_subcommands([](CLI::App*) { return true; });
}

bool takes_value(const CLI::Option* option) {
    return option->get_expected_max() != 0;
}

// "MIB" of the option text "MIB REQUIRED", or the type CLI11 names ("TEXT").
std::string value_name(const CLI::Option* option) {
    std::string text = option->get_option_text();
    if (text.empty()) {
        text = option->get_type_name();
    }
    return text.substr(0, text.find(' '));
}

std::vector<std::string> dashed_names(const CLI::Option* option) {
    std::vector<std::string> names;
    for (const std::string& name : option->get_snames()) {
        names.push_back("-" + name);
    }
    for (const std::string& name : option->get_lnames()) {
        names.push_back("--" + name);
    }
    return names;
}

// --- the manual page ---

// Text as roff reads it: backslashes escaped, and no line taken for a request.
std::string roff(std::string_view text) {
    std::string out;
    bool line_start = true;
    for (char c : text) {
        if (line_start && (c == '.' || c == '\'')) {
            out += "\\&";
        }
        out += c == '\\' ? std::string("\\e") : std::string(1, c);
        line_start = c == '\n';
    }
    return out;
}

// Option names and command words, where a "-" is a minus to be typed, not a hyphen.
std::string literal(std::string_view text) {
    std::string out;
    for (char c : roff(text)) {
        out += c == '-' ? std::string("\\-") : std::string(1, c);
    }
    return out;
}

std::string bold(std::string_view text) {
    return "\\fB" + literal(text) + "\\fR";
}

std::string italic(std::string_view text) {
    return "\\fI" + roff(text) + "\\fR";
}

std::string option_label(const CLI::Option* option) {
    std::string label;
    for (const std::string& name : dashed_names(option)) {
        label += (label.empty() ? "" : ", ") + bold(name);
    }
    return takes_value(option) ? label + " " + italic(value_name(option)) : label;
}

std::string synopsis(CLI::App* command) {
    std::string line = bold("lyfs " + command->get_name());
    for (CLI::Option* positional : positionals(command)) {
        const std::string name = italic(positional->get_name());
        line += " " + (positional->get_required() ? name : "[" + name + "]");
    }
    for (CLI::Option* option : named_options(command)) {
        std::string usage = bold(dashed_names(option).back());
        if (takes_value(option)) {
            usage += " " + italic(value_name(option));
        }
        line += " " + (option->get_required() ? usage : "[" + usage + "]");
    }
    return line;
}

void print_items(const std::vector<std::pair<std::string, std::string>>& items) {
    for (const auto& [label, text] : items) {
        std::printf(".TP\n%s\n%s\n", label.c_str(), roff(text).c_str());
    }
}

void print_table(const ReferenceTable& table) {
    std::printf(".PP\n%s\n", roff(std::string(table.title) +
                                  (table.intro.empty() ? ":" : " " + std::string(table.intro)))
                                 .c_str());
    std::vector<std::pair<std::string, std::string>> rows;
    for (const ReferenceRow& row : table.rows) {
        rows.emplace_back(bold(row.key), std::string(row.meaning));
    }
    print_items(rows);
}

void print_manual_page(CLI::App& app) {
    // The description's first sentence names the tool; the rest describes it.
    std::string summary = app.get_description();
    std::string description;
    if (const std::size_t end = summary.find('\n'); end != std::string::npos) {
        description = summary.substr(end + 1);
        summary.resize(end);
    }
    if (!summary.empty() && summary.back() == '.') {
        summary.pop_back();
    }
    if (!summary.empty()) {
        summary[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(summary[0])));
    }
    std::printf(".TH LYFS 1 \"\" \"lyfs %s\" \"User Commands\"\n", LYFS_VERSION);
    std::printf(".SH NAME\nlyfs \\- %s\n", roff(summary).c_str());
    std::printf(".SH SYNOPSIS\n%s [%s] %s [%s]\n", bold("lyfs").c_str(), bold("-v").c_str(),
                italic("COMMAND").c_str(), italic("ARGUMENTS").c_str());
    for (CLI::App* command : commands_of(app)) {
        std::printf(".br\n%s\n", synopsis(command).c_str());
    }
    std::printf(".SH DESCRIPTION\n%s\n", roff(description).c_str());

    std::printf(".SH OPTIONS\n");
    std::vector<std::pair<std::string, std::string>> options;
    for (CLI::Option* option : app.get_options(shown)) {
        options.emplace_back(option_label(option), option->get_description());
    }
    print_items(options);
    std::printf(".PP\n%s works on every command, and %s before or after it.\n",
                bold("--help").c_str(), bold("-v").c_str());

    std::printf(".SH COMMANDS\n");
    for (CLI::App* command : commands_of(app)) {
        std::printf(".SS \"%s\"\n%s\n", synopsis(command).c_str(),
                    roff(command->get_description()).c_str());
        std::vector<std::pair<std::string, std::string>> items;
        for (CLI::Option* positional : positionals(command)) {
            items.emplace_back(italic(positional->get_name()), positional->get_description());
        }
        for (CLI::Option* option : named_options(command)) {
            items.emplace_back(option_label(option), option->get_description());
        }
        print_items(items);
        for (const ReferenceTable& table : reference_tables()) {
            if (table.command == command->get_name()) {
                print_table(table);
            }
        }
    }

    for (const ReferenceTable& table : reference_tables()) {
        if (table.command.empty()) {
            std::string title(table.title);
            for (char& c : title) {
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            }
            std::printf(".SH \"%s\"\n", title.c_str());
            if (!table.intro.empty()) {
                std::printf("%s\n", roff(table.intro).c_str());
            }
            std::vector<std::pair<std::string, std::string>> rows;
            for (const ReferenceRow& row : table.rows) {
                rows.emplace_back(bold(row.key), std::string(row.meaning));
            }
            print_items(rows);
        }
    }
    std::printf(".SH \"SEE ALSO\"\n%s(1)\n", bold("fusermount3").c_str());
}

// --- the bash completion ---

// The parts that do not depend on the commands. _lyfs_spec (printed between them) sets, for
// the command in $1, its options, the options that take a value and what each positional
// names: device (the card: a local path), file (a local path), card-folder or card-path.
constexpr std::string_view kCompletionStart =
    R"sh(# bash completion for lyfs, printed by lyfs --bash-completion from its own commands.

# The card's folders (no $3) or the names in folder $3, read with lyfs ls, which only reads.
_lyfs_on_card() {
    local tool=$1 device=$2 folder=$3 line
    [[ $device == "~/"* ]] && device=$HOME/${device#"~/"}
    if [[ -z $folder ]]; then
        "$tool" ls "$device" 2>/dev/null | while read -r line; do
            [[ $line == FOLDER* ]] || printf '%s\n' "${line%% *}"
        done
    else
        # Rows are "BYTES SIZE UNIT  NAME"; names may hold spaces.
        "$tool" ls "$device" "/$folder" 2>/dev/null | while IFS= read -r line; do
            [[ $line =~ ^\ *[0-9]+\ +[^\ ]+\ [^\ ]+\ \ (.+)$ ]] && printf '%s\n' "${BASH_REMATCH[1]}"
        done
    fi
}

)sh";

constexpr std::string_view kCompletionEnd = R"sh(
_lyfs() {
    local tool=${COMP_WORDS[0]} cur=${COMP_WORDS[COMP_CWORD]} command='' skip='' word i
    local options valued kinds
    local -a args=() kind=()
    [[ $tool == "~/"* ]] && tool=$HOME/${tool#"~/"}
    COMPREPLY=()
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [[ -n $skip ]]; then
            skip=
        elif [[ $word == -* ]]; then
            _lyfs_spec "$command"
            [[ " $valued " == *" $word "* ]] && skip=1
        elif [[ -z $command ]]; then
            command=$word
        else
            args+=("$word")
        fi
    done
    [[ -n $skip ]] && return 0  # the value of an option: nothing to offer
    _lyfs_spec "$command"
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
        return 0
    fi
    if [[ -z $command ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$_lyfs_commands" -- "$cur")
        return 0
    fi
    read -ra kind <<<"$kinds"
    case ${kind[${#args[@]}]} in
    device | file)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        ;;
    card-folder | card-path)
        local folder name
        cur=${cur//\\ / }  # a name typed with its spaces escaped
        if [[ ${kind[${#args[@]}]} == card-path && $cur == /*/* ]]; then
            folder=${cur#/}
            folder=${folder%%/*}
            while IFS= read -r name; do
                [[ "/$folder/$name" == "$cur"* ]] && COMPREPLY+=("$(printf '%q' "/$folder/$name")")
            done < <(_lyfs_on_card "$tool" "${args[0]}" "$folder")
        else
            while IFS= read -r name; do
                [[ "/$name" == "$cur"* ]] && COMPREPLY+=("/$name")
            done < <(_lyfs_on_card "$tool" "${args[0]}")
            # A file path goes on into the folder.
            if [[ ${kind[${#args[@]}]} == card-path ]]; then
                COMPREPLY=("${COMPREPLY[@]/%//}")
                compopt -o nospace 2>/dev/null
            fi
        fi
        ;;
    esac
    return 0
}
complete -F _lyfs lyfs
)sh";

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) {
        text += (text.empty() ? "" : " ") + word;
    }
    return text;
}

std::string completion_kind(CLI::Option* positional) {
    if (const std::optional<OnCard> what = on_card(positional)) {
        return *what == OnCard::kFolder ? "card-folder" : "card-path";
    }
    return positional->get_name() == "DEVICE" ? "device" : "file";
}

// One case of _lyfs_spec: `options` are the command's own and the tool's that work after it.
void print_spec(std::string_view name, const std::vector<CLI::Option*>& options,
                const std::vector<CLI::Option*>& positional_options) {
    std::vector<std::string> all;
    std::vector<std::string> valued;
    for (const CLI::Option* option : options) {
        for (const std::string& dashed : dashed_names(option)) {
            all.push_back(dashed);
            if (takes_value(option)) {
                valued.push_back(dashed);
            }
        }
    }
    std::vector<std::string> kinds;
    for (CLI::Option* positional : positional_options) {
        kinds.push_back(completion_kind(positional));
    }
    std::printf("    \"%.*s\")\n        options=\"%s\" valued=\"%s\" kinds=\"%s\" ;;\n",
                static_cast<int>(name.size()), name.data(), joined(all).c_str(),
                joined(valued).c_str(), joined(kinds).c_str());
}

void print_bash_completion(CLI::App& app) {
    std::printf("%.*s", static_cast<int>(kCompletionStart.size()), kCompletionStart.data());
    std::vector<std::string> names;
    for (CLI::App* command : commands_of(app)) {
        names.push_back(command->get_name());
    }
    std::printf("_lyfs_commands=\"%s\"\n\n_lyfs_spec() {\n    case $1 in\n", joined(names).c_str());
    const std::vector<CLI::Option*> tool_options = app.get_options(shown);
    print_spec("", tool_options, {});
    // After a command, the tool's own options still work but for --help and --version, which
    // each command answers itself or not at all.
    std::vector<CLI::Option*> passed_on;
    for (CLI::Option* option : tool_options) {
        if (option != app.get_help_ptr() && option != app.get_version_ptr()) {
            passed_on.push_back(option);
        }
    }
    for (CLI::App* command : commands_of(app)) {
        std::vector<CLI::Option*> options = command->get_options(shown);
        options.insert(options.end(), passed_on.begin(), passed_on.end());
        std::erase_if(options, [](CLI::Option* option) { return option->get_positional(); });
        print_spec(command->get_name(), options, positionals(command));
    }
    std::printf("    esac\n}\n");
    std::printf("%.*s", static_cast<int>(kCompletionEnd.size()), kCompletionEnd.data());
}

}  // namespace

CLI::Option* names_on_card(CLI::Option* positional, OnCard what) {
    for (const auto& [tag, tagged] : kOnCardTags) {
        if (tagged == what) {
            positional->check(CLI::Validator([](std::string&) { return std::string(); }, "", tag));
        }
    }
    return positional;
}

void add_manual_options(CLI::App& app) {
    // Printed once the whole command line is read, so every command is there to describe.
    app.add_flag_callback(
           "--manual-page",
           [&app] {
               print_manual_page(app);
               throw CLI::Success();
           },
           "Print the manual page (roff)")
        ->group("");
    app.add_flag_callback(
           "--bash-completion",
           [&app] {
               print_bash_completion(app);
               throw CLI::Success();
           },
           "Print the bash completion script")
        ->group("");
}

}  // namespace lyfs::tool
