#pragma once
// The text encodings a rules file can be read in: the ANSI code page, UTF-8
// and UTF-16 of either byte order. Each is one shared instance, created on
// first use and kept until the process ends.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tessel {

class TEncoding {
public:
    virtual ~TEncoding() = default;
    TEncoding(const TEncoding&) = delete;
    TEncoding& operator=(const TEncoding&) = delete;

    /// How many UTF-16 units the bytes decode to; 0 when they cannot be
    /// decoded at all.
    virtual int GetCharCount(const std::uint8_t* bytes, int byteCount) const = 0;
    /// Decodes the bytes into room for `charCount` units; answers how many
    /// were written.
    virtual int GetChars(const std::uint8_t* bytes, int byteCount, char16_t* chars, int charCount) const = 0;
    /// The byte-order mark; empty for the ANSI code page.
    virtual std::span<const std::uint8_t> GetPreamble() const = 0;

    /// Decodes `byteCount` bytes from `byteIndex`, a stretch that lies inside
    /// `bytes`. Raises EEncodingError when
    /// bytes are given but none of them can be decoded.
    std::u16string GetString(std::span<const std::uint8_t> bytes, int byteIndex, int byteCount) const;

    /// Looks for the UTF-8, UTF-16 LE and UTF-16 BE marks, in that order.
    /// With `encoding` empty it is set to the encoding of the first mark
    /// present, else to `defaultEncoding`; answers the length of the mark.
    static int GetBufferEncoding(std::span<const std::uint8_t> buffer, TEncoding*& encoding,
                                 TEncoding* defaultEncoding);

    /// The shared instances. Creating the ANSI one raises EEncodingError when
    /// the platform has no information for its code page.
    static TEncoding* ANSI();
    static TEncoding* UTF8();
    static TEncoding* Unicode();
    static TEncoding* BigEndianUnicode();

    /// Releases the shared instances; the next use creates them afresh (so a
    /// test can change the code page). No encoding pointer may be in use.
    static void FreeInstances();

protected:
    TEncoding() = default;
};

/// A code page of the platform, decoded by `MultiByteToWideChar`.
class TMBCSEncoding : public TEncoding {
public:
    /// Raises EEncodingError when the platform has no information for the
    /// code page.
    TMBCSEncoding(std::uint32_t codePage, std::uint32_t mbToWCharFlags = 0);

    int GetCharCount(const std::uint8_t* bytes, int byteCount) const override;
    int GetChars(const std::uint8_t* bytes, int byteCount, char16_t* chars, int charCount) const override;
    std::span<const std::uint8_t> GetPreamble() const override { return {}; }

    std::uint32_t CodePage() const { return FCodePage; }

private:
    std::uint32_t FCodePage;
    std::uint32_t FMBToWCharFlags;
};

/// Strict UTF-8: one invalid sequence makes the whole conversion fail.
class TUTF8Encoding : public TMBCSEncoding {
public:
    TUTF8Encoding();
    std::span<const std::uint8_t> GetPreamble() const override;
};

/// UTF-16 little-endian; an odd last byte is dropped.
class TUnicodeEncoding : public TEncoding {
public:
    TUnicodeEncoding() = default;
    int GetCharCount(const std::uint8_t* bytes, int byteCount) const override;
    int GetChars(const std::uint8_t* bytes, int byteCount, char16_t* chars, int charCount) const override;
    std::span<const std::uint8_t> GetPreamble() const override;
};

class TBigEndianUnicodeEncoding : public TUnicodeEncoding {
public:
    TBigEndianUnicodeEncoding() = default;
    int GetChars(const std::uint8_t* bytes, int byteCount, char16_t* chars, int charCount) const override;
    std::span<const std::uint8_t> GetPreamble() const override;
};

}  // namespace tessel
