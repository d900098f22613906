#pragma once
// The command-line syntax: tokens split at control characters and spaces,
// quoted stretches joined to their token, no escape character.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tessel {

/// Reads one token of `text` from `position` and leaves `position` where
/// reading stopped (on a separator or on the end of the text). The token is
/// empty only at the end of the text.
std::u16string ReadNextArgument(std::u16string_view text, std::size_t& position);

/// Tokens 1 and on of `text`: token 0 is the program's own name.
std::vector<std::u16string> SplitArguments(std::u16string_view text);

/// The process's command line as the platform reports it, up to its first 0.
std::u16string_view CommandLineText();

/// The number of arguments of the process's command line.
int ArgumentCount();

/// Argument `index` (1 or more) of the process's command line; empty when
/// the index is beyond `ArgumentCount()`.
std::u16string GetArgument(int index);

/// The leading part of `name` up to and including its last backslash or
/// colon; empty when it has neither.
std::u16string GetDirectoryPart(std::u16string_view name);

}  // namespace tessel
