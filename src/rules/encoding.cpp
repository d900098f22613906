#include "rules/encoding.h"

#include <algorithm>
#include <atomic>
#include <memory>

#include "platform/platform.h"
#include "runtime/exception.h"

namespace tessel {

namespace {

constexpr std::uint8_t Utf8Mark[] = {0xEF, 0xBB, 0xBF};
constexpr std::uint8_t Utf16LeMark[] = {0xFF, 0xFE};
constexpr std::uint8_t Utf16BeMark[] = {0xFE, 0xFF};

std::atomic<TEncoding*> AnsiSlot{nullptr};
std::atomic<TEncoding*> Utf8Slot{nullptr};
std::atomic<TEncoding*> UnicodeSlot{nullptr};
std::atomic<TEncoding*> BigEndianSlot{nullptr};

/// The instance in the slot, creating and publishing one when it is empty.
/// A creator that loses the race to another thread keeps the winner's.
template <class Create>
TEncoding* SharedInstance(std::atomic<TEncoding*>& slot, Create create) {
    TEncoding* current = slot.load(std::memory_order_acquire);
    if (current != nullptr) return current;
    std::unique_ptr<TEncoding> created = create();
    if (slot.compare_exchange_strong(current, created.get(), std::memory_order_acq_rel)) return created.release();
    return current;
}

// Ends the instances' lifetime with the process's, so leak checkers see
// them released.
struct InstanceCleanup {
    ~InstanceCleanup() { TEncoding::FreeInstances(); }
} Cleanup;

bool StartsWith(std::span<const std::uint8_t> buffer, std::span<const std::uint8_t> mark) {
    return buffer.size() >= mark.size() && std::equal(mark.begin(), mark.end(), buffer.begin());
}

}  // namespace

std::u16string TEncoding::GetString(std::span<const std::uint8_t> bytes, int byteIndex, int byteCount) const {
    const std::uint8_t* start = bytes.subspan(static_cast<std::size_t>(byteIndex)).data();
    const int count = GetCharCount(start, byteCount);
    if (byteCount > 0 && count == 0)
        Raise<EEncodingError>(u"Unicode 文字のマッピングがターゲットのマルチバイト コード ページに存在しません");
    std::u16string text(static_cast<std::size_t>(count), u'\0');
    text.resize(static_cast<std::size_t>(GetChars(start, byteCount, text.data(), count)));
    return text;
}

int TEncoding::GetBufferEncoding(std::span<const std::uint8_t> buffer, TEncoding*& encoding,
                                 TEncoding* defaultEncoding) {
    if (encoding != nullptr) {
        const std::span<const std::uint8_t> mark = encoding->GetPreamble();
        return StartsWith(buffer, mark) ? static_cast<int>(mark.size()) : 0;
    }
    // Each encoding is asked for its mark only when the marks before it are
    // absent, so an encoding is created no earlier than it is needed.
    for (TEncoding* (*candidateOf)() : {&TEncoding::UTF8, &TEncoding::Unicode, &TEncoding::BigEndianUnicode}) {
        TEncoding* candidate = candidateOf();
        if (StartsWith(buffer, candidate->GetPreamble())) {
            encoding = candidate;
            return static_cast<int>(candidate->GetPreamble().size());
        }
    }
    encoding = defaultEncoding;
    return 0;
}

// The ANSI encoding keeps the code page that was in force when it was made.
TEncoding* TEncoding::ANSI() {
    return SharedInstance(AnsiSlot, [] { return std::make_unique<TMBCSEncoding>(Os().GetACP()); });
}
TEncoding* TEncoding::UTF8() {
    return SharedInstance(Utf8Slot, [] { return std::make_unique<TUTF8Encoding>(); });
}
TEncoding* TEncoding::Unicode() {
    return SharedInstance(UnicodeSlot, [] { return std::make_unique<TUnicodeEncoding>(); });
}
TEncoding* TEncoding::BigEndianUnicode() {
    return SharedInstance(BigEndianSlot, [] { return std::make_unique<TBigEndianUnicodeEncoding>(); });
}

void TEncoding::FreeInstances() {
    for (std::atomic<TEncoding*>* slot : {&AnsiSlot, &Utf8Slot, &UnicodeSlot, &BigEndianSlot})
        delete slot->exchange(nullptr, std::memory_order_acq_rel);
}

TMBCSEncoding::TMBCSEncoding(std::uint32_t codePage, std::uint32_t mbToWCharFlags)
    : FCodePage(codePage), FMBToWCharFlags(mbToWCharFlags) {
    if (!Os().GetCPInfo(codePage)) Raise<EEncodingError>(u"コード ページが無効です");
}

int TMBCSEncoding::GetCharCount(const std::uint8_t* bytes, int byteCount) const {
    if (byteCount <= 0) return 0;
    return Os().MultiByteToWideChar(FCodePage, FMBToWCharFlags, reinterpret_cast<const char*>(bytes), byteCount,
                                    nullptr, 0);
}

int TMBCSEncoding::GetChars(const std::uint8_t* bytes, int byteCount, char16_t* chars, int charCount) const {
    if (byteCount <= 0 || charCount <= 0) return 0;
    return Os().MultiByteToWideChar(FCodePage, FMBToWCharFlags, reinterpret_cast<const char*>(bytes), byteCount,
                                    chars, charCount);
}

TUTF8Encoding::TUTF8Encoding() : TMBCSEncoding(CP_UTF8, MB_ERR_INVALID_CHARS) {}

std::span<const std::uint8_t> TUTF8Encoding::GetPreamble() const { return Utf8Mark; }

int TUnicodeEncoding::GetCharCount(const std::uint8_t*, int byteCount) const {
    return byteCount > 0 ? byteCount / 2 : 0;
}

int TUnicodeEncoding::GetChars(const std::uint8_t* bytes, int byteCount, char16_t* chars, int charCount) const {
    const int count = std::min(GetCharCount(bytes, byteCount), charCount);
    for (int i = 0; i < count; ++i)
        chars[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return std::max(count, 0);
}

std::span<const std::uint8_t> TUnicodeEncoding::GetPreamble() const { return Utf16LeMark; }

int TBigEndianUnicodeEncoding::GetChars(const std::uint8_t* bytes, int byteCount, char16_t* chars,
                                        int charCount) const {
    const int count = std::min(GetCharCount(bytes, byteCount), charCount);
    for (int i = 0; i < count; ++i)
        chars[i] = static_cast<char16_t>((bytes[2 * i] << 8) | bytes[2 * i + 1]);
    return std::max(count, 0);
}

std::span<const std::uint8_t> TBigEndianUnicodeEncoding::GetPreamble() const { return Utf16BeMark; }

}  // namespace tessel
