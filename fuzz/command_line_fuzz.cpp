// The command line is whatever the launching program wrote. For any text:
// ArgumentCount and GetArgument, which read the platform's command line
// afresh on every call, agree with the token list split once; no argument
// is empty or holds a quotation mark; and every token read stops on a
// separator or on the end of the text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "main/command_line.h"

namespace tessel {
namespace {

bool IsSeparator(char16_t unit) { return unit >= 0x0001 && unit <= 0x0020; }

void CheckCommandLine(const std::u16string& text) {
    Desktop().CommandLine = text;
    const std::u16string_view line = UpToNull(text);

    // Token by token, as the syntax reads them, checking where each stops.
    std::vector<std::u16string> tokens;
    std::size_t position = 0;
    ReadNextArgument(line, position);
    for (;;) {
        const std::size_t before = position;
        std::u16string token = ReadNextArgument(line, position);
        Check(position <= line.size(), "ReadNextArgument stopped beyond the text");
        Check(position == line.size() || IsSeparator(line[position]),
              "ReadNextArgument stopped inside a token");
        if (token.empty()) {
            Check(position == line.size(), "an empty token before the end of the text");
            break;
        }
        Check(position > before, "a token was read without moving on");
        Check(token.find(u'"') == std::u16string::npos, "a token holds a quotation mark");
        tokens.push_back(std::move(token));
    }

    Check(SplitArguments(line) == tokens, "SplitArguments differs from the tokens read one by one");
    Check(SplitArguments(text) == tokens, "the text went on after its U+0000");
    const int count = ArgumentCount();
    Check(count == static_cast<int>(tokens.size()), "ArgumentCount differs from the token list");
    // GetArgument reads from the start each time; on long lines a sample of
    // indexes keeps one input within milliseconds.
    for (int i = 1; i <= count; i += count <= 64 ? 1 : count / 32 + 1)
        Check(GetArgument(i) == tokens[static_cast<std::size_t>(i - 1)], "GetArgument differs from the token list");
    if (count > 0) Check(GetArgument(count) == tokens.back(), "GetArgument differs on the last argument");
    Check(GetArgument(count + 1).empty(), "GetArgument beyond ArgumentCount is not empty");
    Check(GetArgument(count + 7).empty(), "GetArgument far beyond ArgumentCount is not empty");
}

}  // namespace
}  // namespace tessel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tessel::CheckCommandLine(tessel::ReadUnits(tessel::AsBytes(data, size)));
    return 0;
}
