#include "runtime/text_format.h"

#include <vector>

namespace tessel {

namespace {

std::u16string Digits(std::uint64_t value, unsigned base, std::size_t minimum) {
    static constexpr char16_t Alphabet[] = u"0123456789ABCDEF";
    std::u16string out;
    do {
        out.insert(out.begin(), Alphabet[value % base]);
        value /= base;
    } while (value != 0);
    if (out.size() < minimum) out.insert(0, minimum - out.size(), u'0');
    return out;
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

}  // namespace

std::u16string FormatText(std::u16string_view pattern, std::initializer_list<FormatArg> args) {
    const std::vector<FormatArg> list(args);
    std::u16string out;
    std::size_t next = 0;
    std::size_t i = 0;
    while (i < pattern.size()) {
        const char16_t c = pattern[i];
        if (c != u'%' || i + 1 >= pattern.size()) {
            out += c;
            ++i;
            continue;
        }
        if (pattern[i + 1] == u'%') {
            out += u'%';
            i += 2;
            continue;
        }
        std::size_t j = i + 1;
        std::size_t index = next;
        if (IsDigit(pattern[j])) {
            std::size_t k = j;
            std::size_t n = 0;
            while (k < pattern.size() && IsDigit(pattern[k]) && n < 100000) n = n * 10 + (pattern[k++] - u'0');
            if (k < pattern.size() && pattern[k] == u':') {
                index = n;
                j = k + 1;
            }
        }
        const char16_t kind = j < pattern.size() ? pattern[j] : u'\0';
        const bool known = kind == u's' || kind == u'd' || kind == u'p' || kind == u'x';
        if (!known || index >= list.size() || list[index].IsText != (kind == u's')) {
            out += c;
            ++i;
            continue;
        }
        const FormatArg& arg = list[index];
        const auto raw = static_cast<std::uint64_t>(arg.Number);
        switch (kind) {
            case u's': out += arg.Text; break;
            case u'd':
                if (arg.Number < 0) out += u'-';
                out += Digits(arg.Number < 0 ? 0 - raw : raw, 10, 1);
                break;
            case u'p': out += Digits(raw, 16, 8); break;
            default: out += Digits(raw, 16, 1); break;
        }
        next = index + 1;
        i = j + 1;
    }
    return out;
}

}  // namespace tessel
