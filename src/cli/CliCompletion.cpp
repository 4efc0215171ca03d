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

std::string Joined(const std::set<std::string>& items)
{
    std::string text;
    for (const auto& item : items)
        text += (text.empty() ? "" : " ") + item;
    return text;
}

std::string Names(const std::map<std::string, TCommandWord>& words)
{
    std::set<std::string> names;
    for (const auto& [name, word] : words)
        names.insert(name);
    return Joined(names);
}

std::string Bash(const std::map<std::string, TCommandWord>& words)
{
    std::string script = "# bash completion for lindprog-cli\n"
                         "_lindprog_cli()\n{\n"
                         "    local cur=${COMP_WORDS[COMP_CWORD]} words=\"\" options=\"\"\n"
                         "    if [ \"$COMP_CWORD\" -eq 1 ]; then\n"
                         "        COMPREPLY=($(compgen -W \"" +
                         Names(words) +
                         " --help --version\" -- \"$cur\"))\n"
                         "        return\n    fi\n"
                         "    case \"${COMP_WORDS[1]}\" in\n";
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

std::string Zsh(const std::map<std::string, TCommandWord>& words)
{
    std::string script = "#compdef lindprog-cli\n"
                         "_lindprog_cli()\n{\n"
                         "    local -a next options\n"
                         "    if (( CURRENT == 2 )); then\n"
                         "        compadd -- " +
                         Names(words) +
                         " --help --version\n"
                         "        return\n    fi\n"
                         "    case $words[2] in\n";
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

std::string Fish(const std::map<std::string, TCommandWord>& words)
{
    std::string script = "# fish completion for lindprog-cli\n"
                         "complete -c lindprog-cli -n __fish_use_subcommand -f -a '" +
                         Names(words) + "'\n";
    for (const auto& [name, word] : words) {
        const std::string when = "complete -c lindprog-cli -n '__fish_seen_subcommand_from " + name + "'";
        if (!word.Next.empty())
            script += when + " -f -a '" + Joined(word.Next) + "'\n";
        for (const auto& option : word.Options)
            script +=
                when + (option.rfind("--", 0) == 0 ? " -l " + option.substr(2) : " -s " + option.substr(1)) + "\n";
    }
    return script;
}

} // namespace

std::optional<std::string> CompletionScript(const std::string& shell)
{
    const auto words = CommandWords();
    if (shell == "bash")
        return Bash(words);
    if (shell == "zsh")
        return Zsh(words);
    if (shell == "fish")
        return Fish(words);
    return std::nullopt;
}

} // namespace lindprog::cli
