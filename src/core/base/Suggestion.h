#pragma once
// "Did you mean": the word a user most likely meant when a command or a key
// is not one the program knows. The command line and the job file loader
// both refuse such words; with the closest known word named, a typo is
// mended without a look into the manual.

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace lindprog {

// The candidate nearest to word, counting one inserted, deleted or changed
// letter, or two neighbours swapped, as one edit, and ignoring case. None
// when even the nearest needs more edits than a typo makes: more than a third
// of the word's letters, and at least one. Of equally near candidates, the
// first.
std::optional<std::string> Suggestion(std::string_view word, std::span<const std::string_view> candidates);

// "; did you mean 'format'?" to end a refusal's text with, or "" when no
// candidate is near enough.
std::string DidYouMean(std::string_view word, std::span<const std::string_view> candidates);

} // namespace lindprog
