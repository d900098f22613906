#pragma once
// The ordered string list that holds the exclusion rules, one rules file
// while it loads, and the program entries of the command line.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessel {

class TEncoding;
class TStream;

enum TDuplicates { dupIgnore, dupAccept, dupError };

class TStrings {
public:
    virtual ~TStrings() = default;

    virtual std::u16string Get(int index) const = 0;
    virtual int Count() const = 0;
    virtual void* GetObject(int index) const = 0;
    virtual void SetEncoding(TEncoding* encoding) { FEncoding = encoding; }
    virtual void SetText(std::u16string_view text);
    virtual int Add(const std::u16string& s) = 0;
    virtual int AddObject(const std::u16string& s, void* object) = 0;
    virtual void AddStrings(const TStrings& strings);
    virtual void Clear() = 0;
    virtual void LoadFromFile(const std::u16string& fileName);
    virtual void LoadFromStream(TStream& stream);
    virtual void LoadFromStream(TStream& stream, TEncoding* encoding);

    std::u16string Strings(int index) const { return Get(index); }
    /// The text before the first separator; empty when there is none.
    std::u16string GetName(int index) const;
    /// The text after the first separator; empty when there is none or for
    /// a negative index.
    std::u16string GetValueFromIndex(int index) const;
    /// An entry's name and value, as GetName and GetValueFromIndex cut them.
    std::pair<std::u16string_view, std::u16string_view> SplitNameValue(std::u16string_view entry) const;

    TEncoding* Encoding() const { return FEncoding; }
    TEncoding* DefaultEncoding() const { return FDefaultEncoding; }
    char16_t NameValueSeparator() const { return u'='; }
    std::u16string_view LineBreak() const { return u"\r\n"; }

protected:
    TStrings();

private:
    TEncoding* FEncoding = nullptr;
    TEncoding* FDefaultEncoding = nullptr;
};

class TStringList : public TStrings {
public:
    TStringList() = default;

    std::u16string Get(int index) const override;
    int Count() const override;
    void* GetObject(int index) const override;
    int Add(const std::u16string& s) override;
    int AddObject(const std::u16string& s, void* object) override;
    void Clear() override;

    /// The entry itself, without Get's copy: a pass reads every rule for
    /// every window.
    const std::u16string& Entry(int index) const;

    bool Sorted() const { return false; }
    TDuplicates Duplicates() const { return dupIgnore; }
    bool CaseSensitive() const { return false; }

private:
    struct Item {
        std::u16string String;
        void* Object;
    };
    std::vector<Item> FList;
};

}  // namespace tessel
