#include "rules/string_list.h"

#include <cstdint>
#include <limits>

#include "rules/encoding.h"
#include "rules/file_stream.h"
#include "runtime/exception.h"
#include "runtime/string_table.h"

namespace tessel {

TStrings::TStrings() : FDefaultEncoding(TEncoding::ANSI()) {}

void TStrings::SetText(std::u16string_view text) {
    Clear();
    // The end of the text counts as a U+0000, and the first U+0000 ends it.
    const auto at = [&text](std::size_t p) { return p < text.size() ? text[p] : u'\0'; };
    std::size_t p = 0;
    while (at(p) != u'\0') {
        const std::size_t start = p;
        while (at(p) != u'\0' && at(p) != u'\n' && at(p) != u'\r') ++p;
        Add(std::u16string(text.substr(start, p - start)));
        if (at(p) == u'\r') ++p;
        if (at(p) == u'\n') ++p;
    }
}

void TStrings::AddStrings(const TStrings& strings) {
    for (int i = 0; i < strings.Count(); ++i) AddObject(strings.Get(i), strings.GetObject(i));
}

void TStrings::LoadFromFile(const std::u16string& fileName) {
    TFileStream stream(fileName);
    LoadFromStream(stream);
}

void TStrings::LoadFromStream(TStream& stream) { LoadFromStream(stream, nullptr); }

void TStrings::LoadFromStream(TStream& stream, TEncoding* encoding) {
    const std::int64_t size = stream.Size();
    const std::int64_t position = stream.Position();
    // Counts are signed 32-bit: a stream whose size the platform cannot
    // state that way is more than one list can hold as a text.
    if (size < 0 || position < 0 || size - position > std::numeric_limits<std::int32_t>::max())
        Raise<EOutOfMemory>(LoadResString(SOutOfMemory));
    const int count = size > position ? static_cast<int>(size - position) : 0;

    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(count), 0);
    stream.ReadBuffer(buffer.data(), count);

    const int markLength = TEncoding::GetBufferEncoding(buffer, encoding, FDefaultEncoding);
    SetEncoding(encoding);
    SetText(encoding->GetString(buffer, markLength, count - markLength));
}

std::u16string TStrings::GetName(int index) const { return std::u16string(SplitNameValue(Get(index)).first); }

std::u16string TStrings::GetValueFromIndex(int index) const {
    if (index < 0) return {};
    return std::u16string(SplitNameValue(Get(index)).second);
}

std::pair<std::u16string_view, std::u16string_view> TStrings::SplitNameValue(std::u16string_view entry) const {
    const std::size_t p = entry.find(NameValueSeparator());
    if (p == std::u16string_view::npos) return {};
    return {entry.substr(0, p), entry.substr(p + 1)};
}

std::u16string TStringList::Get(int index) const { return Entry(index); }

const std::u16string& TStringList::Entry(int index) const { return FList.at(static_cast<std::size_t>(index)).String; }

int TStringList::Count() const { return static_cast<int>(FList.size()); }

void* TStringList::GetObject(int index) const { return FList.at(static_cast<std::size_t>(index)).Object; }

int TStringList::Add(const std::u16string& s) { return AddObject(s, nullptr); }

int TStringList::AddObject(const std::u16string& s, void* object) {
    FList.push_back({s, object});
    return static_cast<int>(FList.size()) - 1;
}

void TStringList::Clear() { FList.clear(); }

}  // namespace tessel
