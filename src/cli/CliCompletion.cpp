#include "cli/CliCompletion.h"

#include "cli/CliOptions.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <sstream>
#include <vector>

namespace lindprog::cli {

namespace {

// A word of the command table: "job" of "job check", with the words that may
// follow it and the options of every command it starts.
struct TCommandWord {
    std::set<std::string> Next;
    std::set<std::string> Options;
};

// What completes the value of an option, as its help line names the value:
// the ports there are for PORT, the adapter's own names for a device or a
// region (they live in no file), files for FILE, the choices of
// "scan|enter", and nothing for a number, an address or a time.
enum class TValueKind { Port, Device, Region, File, Choices, Other };

struct TOptionValue {
    TValueKind Kind = TValueKind::Other;
    std::set<std::string> Choices;
};

bool IsOption(const std::string& word)
{
    return word.size() > 1 && word[0] == '-';
}

// The options a command's help names: "-p," "--port" "--[no-]power-off".
std::set<std::string> OptionsOf(TCliCommand command)
{
    std::set<std::string> options{"--help"};
    std::istringstream words(CommandHelp(command));
    std::string word;
    while (words >> word) {
        if (!word.empty() && word.back() == ',')
            word.pop_back();
        if (word == "--[no-]power-off") {
            options.insert({"--power-off", "--no-power-off"});
            continue;
        }
        const std::size_t dashes = word.rfind("--", 0) == 0 ? 2 : word.rfind('-', 0) == 0 ? 1 : 0;
        const bool name = dashes > 0 && word.size() > dashes &&
                          std::isalpha(static_cast<unsigned char>(word[dashes])) &&
                          std::all_of(word.begin() + static_cast<std::ptrdiff_t>(dashes), word.end(),
                                      [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-'; });
        if (name)
            options.insert(word);
    }
    return options;
}

TOptionValue ValueNamed(const std::string& value, const std::vector<std::string>& options)
{
    const auto names = [&](const char* option) {
        return std::find(options.begin(), options.end(), option) != options.end();
    };
    TOptionValue kind;
    if (value == "PORT")
        kind.Kind = TValueKind::Port;
    else if (names("--device"))
        kind.Kind = TValueKind::Device;
    else if (names("--region"))
        kind.Kind = TValueKind::Region;
    else if (value.find("FILE") != std::string::npos || value == "DIR")
        kind.Kind = TValueKind::File;
    else if (value.find('|') != std::string::npos || std::all_of(value.begin(), value.end(), [](char c) {
                 return std::islower(static_cast<unsigned char>(c));
             }))
        kind.Kind = TValueKind::Choices;
    if (kind.Kind == TValueKind::Choices) {
        std::istringstream choices(value);
        for (std::string choice; std::getline(choices, choice, '|');)
            kind.Choices.insert(choice);
    }
    return kind;
}

// The options that take a value, from the help's option lines: the value is
// the word one space after the last option ("-p, --port PORT       COM<N>
// ..."), where a wider gap starts the description ("--loop    run ...").
std::map<std::string, TOptionValue> OptionValues()
{
    std::map<std::string, TOptionValue> values;
    for (const TCliCommand command : AllCommands()) {
        std::istringstream lines(CommandHelp(command));
        for (std::string line; std::getline(lines, line);) {
            std::size_t at = line.find_first_not_of(' ');
            if (at == std::string::npos || line[at] != '-')
                continue;
            std::vector<std::string> options;
            std::string value;
            while (at < line.size()) {
                const std::size_t end = std::min(line.find(' ', at), line.size());
                std::string word = line.substr(at, end - at);
                if (!IsOption(word)) {
                    value = word;
                    break;
                }
                if (word.back() == ',')
                    word.pop_back();
                options.push_back(word);
                if (end + 1 >= line.size() || line[end + 1] == ' ')
                    break;
                at = end + 1;
            }
            if (value.empty())
                continue;
            for (const std::string& option : options)
                values[option] = ValueNamed(value, options);
        }
    }
    return values;
}

std::map<std::string, TCommandWord> CommandWords()
{
    std::map<std::string, TCommandWord> words;
    for (const TCliCommand command : AllCommands()) {
        const std::string name = CommandName(command);
        const std::size_t space = name.find(' ');
        TCommandWord& word = words[name.substr(0, space)];
        if (space != std::string::npos)
            word.Next.insert(name.substr(space + 1));
        if (command != TCliCommand::Completion)
            word.Options.merge(OptionsOf(command));
        else
            word.Next.insert({"bash", "zsh", "fish"});
    }
    return words;
}

std::string Joined(const std::set<std::string>& items, const std::string& between = " ")
{
    std::string text;
    for (const auto& item : items)
        text += (text.empty() ? "" : between) + item;
    return text;
}

std::string Names(const std::map<std::string, TCommandWord>& words)
{
    std::set<std::string> names;
    for (const auto& [name, word] : words)
        names.insert(name);
    return Joined(names);
}

// The options whose values are of one kind, as a shell's case pattern.
std::string Pattern(const std::map<std::string, TOptionValue>& values, TValueKind kind, const std::string& between)
{
    std::set<std::string> options;
    for (const auto& [option, value] : values)
        if (value.Kind == kind)
            options.insert(option);
    return Joined(options, between);
}

// The device or region names of `info --json` on the port, one a line, the
// same pipeline for every shell: each object of the JSON line starts a line
// of its own, a device's fields begin index, name, voltage_mask, a region's
// index, name, flags. $want is devices or regions, $device the -d given (a
// name or an index; none: the first device, as the commands take it). The
// awk program holds no single quote and no backslash, so it reads the same
// in the single quotes of bash, zsh and fish.
constexpr const char* NamesFromInfo =
    R"sh(tr '{' '\n' | awk -F'"' -v want="$want" -v device="$device" '$4 == "name" && $8 == "voltage_mask" { )sh"
    R"sh(n++; chosen = device == "" ? n == 1 : device == $6 || device == n - 1; if (want == "devices") print $6 } )sh"
    R"sh($4 == "name" && $8 == "flags" && want == "regions" && chosen { print $6 }')sh";

constexpr const char* PortNames = R"sh(lindprog-cli ports 2>/dev/null | awk '/^COM[0-9]/ { print $1 }')sh";

std::string Bash(const std::map<std::string, TCommandWord>& words, const std::map<std::string, TOptionValue>& values)
{
    std::string script = "# bash completion for lindprog-cli\n";
    // The word as the command will get it: without the quotes and
    // backslashes the user typed.
    script += R"sh(_lindprog_cli_unquoted()
{
    local word=$1
    word=${word//\\/}
    word=${word//\"/}
    word=${word//\'/}
    printf '%s' "$word"
}
# $1: devices or regions; $2: the word so far. Asks the adapter of -p, quietly.
_lindprog_cli_names()
{
    local want=$1 port="" device="" k IFS=$'\n'
    for ((k = 2; k < COMP_CWORD; k++)); do
        case ${COMP_WORDS[k]} in
        -p | --port)
            port=${COMP_WORDS[k + 1]}
            # bash splits key:1A2B3C4D at the colon
            [ "${COMP_WORDS[k + 2]}" = : ] && port+=:${COMP_WORDS[k + 3]} ;;
        -d | --device) device=$(_lindprog_cli_unquoted "${COMP_WORDS[k + 1]}") ;;
        esac
    done
    [ -n "$port" ] || return 0
    COMPREPLY=($(compgen -W "$(lindprog-cli info -p "$(_lindprog_cli_unquoted "$port")" --json 2>/dev/null |
        )sh" + std::string(NamesFromInfo) +
              R"sh()" -- "$2"))
}
_lindprog_cli()
{
    local cur=${COMP_WORDS[COMP_CWORD]} words="" options=""
    if [ "$COMP_CWORD" -eq 1 ]; then
        COMPREPLY=($(compgen -W ")sh" +
              Names(words) + R"sh( --help --version" -- "$cur"))
        return
    fi
    if [ "$COMP_CWORD" -ge 3 ]; then
        case ${COMP_WORDS[COMP_CWORD - 1]} in
)sh";
    const auto arm = [&](TValueKind kind, const std::string& body) {
        const std::string options = Pattern(values, kind, " | ");
        if (!options.empty())
            script += "        " + options + ") " + body + "; return ;;\n";
    };
    arm(TValueKind::Port, "COMPREPLY=($(compgen -W \"$(" + std::string(PortNames) + ")\" -- \"$cur\"))");
    arm(TValueKind::Device, "_lindprog_cli_names devices \"$(_lindprog_cli_unquoted \"$cur\")\"");
    arm(TValueKind::Region, "_lindprog_cli_names regions \"$(_lindprog_cli_unquoted \"$cur\")\"");
    arm(TValueKind::File, "COMPREPLY=($(compgen -f -- \"$cur\"))");
    for (const auto& [option, value] : values)
        if (value.Kind == TValueKind::Choices)
            script += "        " + option + ") COMPREPLY=($(compgen -W \"" + Joined(value.Choices) +
                      "\" -- \"$cur\")); return ;;\n";
    arm(TValueKind::Other, ":");
    script += "        esac\n    fi\n    case \"${COMP_WORDS[1]}\" in\n";
    for (const auto& [name, word] : words)
        script +=
            "    " + name + ") words=\"" + Joined(word.Next) + "\"; options=\"" + Joined(word.Options) + "\" ;;\n";
    script += "    esac\n"
              "    if [[ $cur == -* ]]; then\n"
              "        COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
              "    elif [ \"$COMP_CWORD\" -eq 2 ] && [ -n \"$words\" ]; then\n"
              "        COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n"
              "    else\n"
              "        COMPREPLY=($(compgen -f -- \"$cur\"))\n"
              "    fi\n}\n"
              "complete -o filenames -F _lindprog_cli lindprog-cli\n";
    return script;
}

std::string Zsh(const std::map<std::string, TCommandWord>& words, const std::map<std::string, TOptionValue>& values)
{
    std::string script = R"sh(#compdef lindprog-cli
# $1: devices or regions. Asks the adapter of -p, quietly.
_lindprog_cli_names()
{
    local want=$1 port device k
    for (( k = 3; k < CURRENT; k++ )); do
        case $words[k] in
        (-p|--port) port=${(Q)words[k+1]} ;;
        (-d|--device) device=${(Q)words[k+1]} ;;
        esac
    done
    [[ -n $port ]] || return 1
    compadd -- ${(f)"$(lindprog-cli info -p $port --json 2>/dev/null | )sh" +
                         std::string(NamesFromInfo) + R"sh()"}
}
_lindprog_cli()
{
    local -a next options
    if (( CURRENT == 2 )); then
        compadd -- )sh" + Names(words) +
                         R"sh( --help --version
        return
    fi
    case $words[CURRENT-1] in
)sh";
    const auto arm = [&](TValueKind kind, const std::string& body) {
        const std::string options = Pattern(values, kind, "|");
        if (!options.empty())
            script += "    (" + options + ") " + body + "; return ;;\n";
    };
    arm(TValueKind::Port, "compadd -- ${(f)\"$(" + std::string(PortNames) + ")\"}");
    arm(TValueKind::Device, "_lindprog_cli_names devices");
    arm(TValueKind::Region, "_lindprog_cli_names regions");
    arm(TValueKind::File, "_files");
    for (const auto& [option, value] : values)
        if (value.Kind == TValueKind::Choices)
            script += "    (" + option + ") compadd -- " + Joined(value.Choices) + "; return ;;\n";
    arm(TValueKind::Other, ":");
    script += "    esac\n    case $words[2] in\n";
    for (const auto& [name, word] : words)
        script += "    " + name + ") next=(" + Joined(word.Next) + "); options=(" + Joined(word.Options) + ") ;;\n";
    script += "    esac\n"
              "    if [[ $PREFIX == -* ]]; then\n"
              "        compadd -- $options\n"
              "    elif (( CURRENT == 3 && ${#next} > 0 )); then\n"
              "        compadd -- $next\n"
              "    else\n"
              "        _files\n"
              "    fi\n}\n"
              "_lindprog_cli \"$@\"\n";
    return script;
}

// A fish option line's value: the names to offer, and whether files may
// stand there too.
std::string FishValue(const TOptionValue& value)
{
    switch (value.Kind) {
    case TValueKind::Port: return " -x -a '(__lindprog_cli_ports)'";
    case TValueKind::Device: return " -x -a '(__lindprog_cli_names devices)'";
    case TValueKind::Region: return " -x -a '(__lindprog_cli_names regions)'";
    case TValueKind::File: return " -r";
    case TValueKind::Choices: return " -x -a '" + Joined(value.Choices) + "'";
    case TValueKind::Other: return " -x";
    }
    return "";
}

std::string Fish(const std::map<std::string, TCommandWord>& words, const std::map<std::string, TOptionValue>& values)
{
    std::string script = R"sh(# fish completion for lindprog-cli
function __lindprog_cli_ports
    )sh" + std::string(PortNames) +
                         R"sh(
end
# $argv[1]: devices or regions. Asks the adapter of -p, quietly.
function __lindprog_cli_names
    set -l tokens (commandline -opc)
    set -l port
    set -l device
    for k in (seq 2 (count $tokens))
        switch $tokens[$k]
            case -p --port
                set port $tokens[(math $k + 1)]
            case -d --device
                set device $tokens[(math $k + 1)]
        end
    end
    test -n "$port"; or return
    set -l want $argv[1]
    lindprog-cli info -p $port --json 2>/dev/null | )sh" +
                         std::string(NamesFromInfo) + R"sh(
end
complete -c lindprog-cli -n __fish_use_subcommand -f -a ')sh" +
                         Names(words) + "'\n";
    for (const auto& [name, word] : words) {
        const std::string when = "complete -c lindprog-cli -n '__fish_seen_subcommand_from " + name + "'";
        if (!word.Next.empty())
            script += when + " -f -a '" + Joined(word.Next) + "'\n";
        for (const auto& option : word.Options) {
            const auto value = values.find(option);
            script += when + (option.rfind("--", 0) == 0 ? " -l " + option.substr(2) : " -s " + option.substr(1)) +
                      (value == values.end() ? "" : FishValue(value->second)) + "\n";
        }
    }
    return script;
}

} // namespace

std::optional<std::string> CompletionScript(const std::string& shell)
{
    const auto words = CommandWords();
    const auto values = OptionValues();
    if (shell == "bash")
        return Bash(words, values);
    if (shell == "zsh")
        return Zsh(words, values);
    if (shell == "fish")
        return Fish(words, values);
    return std::nullopt;
}

} // namespace lindprog::cli
