#include "main/command_line.h"

#include "platform/platform.h"

namespace tessel {

namespace {

constexpr char16_t Quote = u'"';

bool IsSeparator(char16_t c) { return c >= 0x0001 && c <= 0x0020; }

}  // namespace

std::u16string ReadNextArgument(std::u16string_view text, std::size_t& position) {
    // The end of the view stands for the code unit 0 that ends the text.
    const auto at = [&](std::size_t i) { return i < text.size() ? text[i] : u'\0'; };
    for (;;) {
        while (IsSeparator(at(position))) ++position;
        if (at(position) == Quote && at(position + 1) == Quote) {
            position += 2;
            continue;
        }
        break;
    }
    std::u16string token;
    while (at(position) > 0x0020) {
        if (at(position) == Quote) {
            ++position;
            while (at(position) != u'\0' && at(position) != Quote) token += text[position++];
            if (at(position) == Quote) ++position;
        } else {
            token += text[position++];
        }
    }
    return token;
}

std::vector<std::u16string> SplitArguments(std::u16string_view text) {
    std::size_t position = 0;
    ReadNextArgument(text, position);
    std::vector<std::u16string> arguments;
    for (std::u16string token = ReadNextArgument(text, position); !token.empty();
         token = ReadNextArgument(text, position))
        arguments.push_back(std::move(token));
    return arguments;
}

std::u16string_view CommandLineText() {
    const char16_t* text = Os().GetCommandLineW();
    return text != nullptr ? std::u16string_view(text) : std::u16string_view();
}

int ArgumentCount() { return static_cast<int>(SplitArguments(CommandLineText()).size()); }

std::u16string GetArgument(int index) {
    const std::u16string_view text = CommandLineText();
    std::size_t position = 0;
    std::u16string token;
    for (int i = 0; i <= index; ++i) {
        token = ReadNextArgument(text, position);
        if (token.empty()) break;
    }
    return token;
}

std::u16string GetDirectoryPart(std::u16string_view name) {
    const std::size_t last = name.find_last_of(u"\\:");
    return last == std::u16string_view::npos ? std::u16string() : std::u16string(name.substr(0, last + 1));
}

}  // namespace tessel
