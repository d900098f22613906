// A rules file may hold any bytes. Loading one gives either EEncodingError
// with its one message, and no rules, or the lines of the decoded text as
// rules, cut at CR LF, lone CR and lone LF and ended by the first U+0000,
// each splitting at its first "=".
//
// The first input byte picks the ANSI code page (low two bits) and whether
// the read stops half way (bit 2), as a failing disk would; the remaining
// bytes are the file.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "rules/encoding.h"
#include "rules/file_stream.h"
#include "rules/string_list.h"
#include "runtime/exception.h"

namespace tessel {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr char16_t EncodingErrorMessage[] =
    u"Unicode 文字のマッピングがターゲットのマルチバイト コード ページに存在しません";

// A file held in memory; a short read delivers only its first `readable` bytes.
class TBytesStream : public TStream {
public:
    TBytesStream(const Bytes& bytes, std::size_t readable) : FBytes(bytes), FReadable(readable) {}

    int Read(void* buffer, int count) override {
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count),
                                                    FReadable > FPosition ? FReadable - FPosition : 0);
        if (n > 0) std::memcpy(buffer, FBytes.data() + FPosition, n);
        FPosition += n;
        return static_cast<int>(n);
    }

    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
        const std::int64_t base = origin == soBeginning ? 0
                                  : origin == soCurrent ? static_cast<std::int64_t>(FPosition)
                                                        : static_cast<std::int64_t>(FBytes.size());
        if (base + offset < 0) return -1;
        FPosition = static_cast<std::size_t>(base + offset);
        return base + offset;
    }

private:
    const Bytes& FBytes;
    std::size_t FReadable;
    std::size_t FPosition = 0;
};

bool StartsWith(const Bytes& bytes, std::initializer_list<std::uint8_t> mark) {
    return bytes.size() >= mark.size() && std::equal(mark.begin(), mark.end(), bytes.begin());
}

// The platform's conversion of a whole run of bytes; nothing when it fails.
std::optional<std::u16string> Convert(std::uint32_t codePage, std::uint32_t flags, const std::uint8_t* bytes,
                                      int count) {
    const auto* chars = reinterpret_cast<const char*>(bytes);
    const int length = Os().MultiByteToWideChar(codePage, flags, chars, count, nullptr, 0);
    if (length == 0) return std::nullopt;
    std::u16string text(static_cast<std::size_t>(length), u'\0');
    Os().MultiByteToWideChar(codePage, flags, chars, count, text.data(), length);
    return text;
}

// The text the bytes stand for, decided from the marks afresh; nothing when
// they cannot be decoded.
std::optional<std::u16string> ExpectedText(const Bytes& bytes, std::uint32_t ansiCodePage) {
    std::size_t mark = 0;
    int order = 0;  // 1: UTF-16 LE, 2: UTF-16 BE, 3: UTF-8
    if (StartsWith(bytes, {0xEF, 0xBB, 0xBF})) mark = 3, order = 3;
    else if (StartsWith(bytes, {0xFF, 0xFE})) mark = 2, order = 1;
    else if (StartsWith(bytes, {0xFE, 0xFF})) mark = 2, order = 2;
    const std::uint8_t* rest = bytes.data() + mark;
    const std::size_t count = bytes.size() - mark;
    if (count == 0) return std::u16string();
    if (order == 1 || order == 2) {
        if (count == 1) return std::nullopt;
        std::u16string text;
        for (std::size_t i = 0; i + 1 < count; i += 2)
            text += static_cast<char16_t>(order == 1 ? rest[i] | rest[i + 1] << 8 : rest[i] << 8 | rest[i + 1]);
        return text;
    }
    return order == 3 ? Convert(CP_UTF8, MB_ERR_INVALID_CHARS, rest, static_cast<int>(count))
                      : Convert(ansiCodePage, 0, rest, static_cast<int>(count));
}

std::vector<std::u16string> ExpectedLines(std::u16string_view text) {
    text = UpToNull(text);
    std::vector<std::u16string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find_first_of(u"\r\n", start), text.size());
        lines.emplace_back(text.substr(start, end - start));
        start = end;
        if (start < text.size() && text[start] == u'\r') ++start;
        if (start < text.size() && text[start] == u'\n') ++start;
    }
    return lines;
}

void CheckRules(const TStringList& list, const std::vector<std::u16string>& lines) {
    Check(list.Count() == static_cast<int>(lines.size()), "the list has another number of rules than lines");
    for (int i = 0; i < list.Count(); ++i) {
        const std::u16string entry = list.Strings(i);
        Check(entry == lines[static_cast<std::size_t>(i)], "a rule differs from its line");
        const std::u16string name = list.GetName(i);
        const std::u16string value = list.GetValueFromIndex(i);
        if (entry.find(u'=') == std::u16string::npos) {
            Check(name.empty() && value.empty(), "a rule without separator has a title or class mask");
        } else {
            Check(name.find(u'=') == std::u16string::npos, "the title mask holds a separator");
            Check(name + u'=' + value == entry, "title and class mask do not make up the rule");
        }
    }
    Check(list.GetValueFromIndex(-1).empty(), "a negative index has a class mask");
}

void CheckLoad(std::string_view input) {
    static constexpr std::uint32_t CodePages[] = {1252, 932, 1251, 936};
    const auto selector = input.empty() ? 0u : static_cast<unsigned char>(input[0]);
    const std::uint32_t codePage = CodePages[selector & 3];
    const bool shortRead = (selector & 4) != 0;
    const Bytes file(input.begin() + (input.empty() ? 0 : 1), input.end());

    SimulatedDesktop& desktop = Desktop();
    if (desktop.AnsiCodePage != codePage) {
        // The ANSI encoding keeps the code page it was made with.
        TEncoding::FreeInstances();
        desktop.AnsiCodePage = codePage;
    }

    const std::size_t readable = shortRead ? file.size() / 2 : file.size();
    const std::optional<std::u16string> text = ExpectedText(file, codePage);

    TStringList list;
    TBytesStream stream(file, readable);
    try {
        list.LoadFromStream(stream);
    } catch (const EReadError&) {
        Check(readable < file.size(), "EReadError for a stream that delivered every byte");
        Check(list.Count() == 0, "rules left in the list after EReadError");
        return;
    } catch (const EEncodingError& error) {
        Check(!text.has_value(), "EEncodingError for bytes that decode");
        Check(error.Message() == EncodingErrorMessage, "EEncodingError with another message");
        Check(list.Count() == 0, "rules left in the list after EEncodingError");
        return;
    }
    Check(readable == file.size(), "a stream that delivered fewer bytes than its size was taken");
    Check(text.has_value(), "bytes that cannot be decoded were taken");
    CheckRules(list, ExpectedLines(*text));
}

}  // namespace
}  // namespace tessel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tessel::CheckLoad(tessel::AsBytes(data, size));
    return 0;
}
