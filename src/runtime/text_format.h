#pragma once
// Expands the placeholders of the system's texts: %s text, %d decimal,
// %p address as (at least) eight uppercase hex digits, %x uppercase hex
// without leading zeros, each also as %N:s (argument N, counted from 0),
// and %% for a percent sign.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace tessel {

struct FormatArg {
    FormatArg(std::u16string_view text) : Text(text), IsText(true) {}
    FormatArg(const char16_t* text) : Text(text), IsText(true) {}
    FormatArg(const std::u16string& text) : Text(text), IsText(true) {}
    FormatArg(std::int64_t number) : Number(number) {}
    FormatArg(int number) : Number(number) {}
    FormatArg(unsigned number) : Number(number) {}
    FormatArg(const void* address)
        : Number(static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(address))) {}

    std::u16string_view Text;
    std::int64_t Number = 0;
    bool IsText = false;
};

/// A placeholder whose argument is missing or of the wrong kind, or that is
/// not one of the forms above, is copied to the result unchanged.
std::u16string FormatText(std::u16string_view pattern, std::initializer_list<FormatArg> args);

}  // namespace tessel
