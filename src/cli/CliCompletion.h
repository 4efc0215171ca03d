#pragma once
// Completion scripts for bash, zsh and fish, made from the command table and
// each command's help, so a new command or option completes without anyone
// editing a script by hand. An option's value completes by what the help
// names it: -p to the ports there are, -d and -r to the names the adapter of
// the -p given offers (asked with info --json when completing), FILE to
// files, "scan|enter" to its choices.

#include <optional>
#include <string>

namespace lindprog::cli {

// The script for "bash", "zsh" or "fish"; nothing for another shell.
std::optional<std::string> CompletionScript(const std::string& shell);

} // namespace lindprog::cli
