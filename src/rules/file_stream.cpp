#include "rules/file_stream.h"

#include <limits>
#include <vector>

#include "runtime/exception.h"
#include "runtime/string_table.h"
#include "runtime/text_format.h"

namespace tessel {

namespace {

/// The full path the platform forms for a name; empty when it forms none.
std::u16string FullPathName(const std::u16string& name) {
    std::vector<char16_t> buffer(260);
    std::uint32_t length = Os().GetFullPathNameW(name.c_str(), static_cast<std::uint32_t>(buffer.size()), buffer.data());
    if (length >= buffer.size()) {
        buffer.assign(length, u'\0');
        length = Os().GetFullPathNameW(name.c_str(), static_cast<std::uint32_t>(buffer.size()), buffer.data());
        // The path may have grown in between; rather no path than a cut one.
        if (length >= buffer.size()) length = 0;
    }
    return std::u16string(buffer.data(), length);
}

/// The platform's text for an error code, without the line break and full
/// stop it ends with; empty when the platform has none.
std::u16string SysErrorMessage(std::uint32_t code) {
    char16_t* text = nullptr;
    const std::uint32_t length =
        Os().FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY |
                                FORMAT_MESSAGE_ALLOCATE_BUFFER,
                            code, 0, &text);
    std::u16string message;
    if (text != nullptr) {
        message.assign(text, length);
        Os().LocalFree(text);
    }
    while (!message.empty() && (message.back() <= u' ' || message.back() == u'.')) message.pop_back();
    return message;
}

}  // namespace

void TStream::ReadBuffer(void* buffer, int count) {
    if (count > 0 && Read(buffer, count) != count) ReadError();
}

void TStream::ReadError() { Raise<EReadError>(LoadResString(SReadError)); }

std::int64_t TStream::Size() {
    const std::int64_t position = Seek(0, soCurrent);
    const std::int64_t size = Seek(0, soEnd);
    Seek(position, soBeginning);
    return position < 0 ? -1 : size;
}

int THandleStream::Read(void* buffer, int count) {
    if (count <= 0) return 0;
    std::uint32_t read = 0;
    if (!Os().ReadFile(FHandle, buffer, static_cast<std::uint32_t>(count), &read)) {
        FReadFailure = Os().GetLastError();
        return 0;
    }
    constexpr std::uint32_t ErrorHandleEof = 38;
    if (read < static_cast<std::uint32_t>(count)) FReadFailure = ErrorHandleEof;
    return static_cast<int>(std::min<std::uint32_t>(read, static_cast<std::uint32_t>(count)));
}

std::int64_t THandleStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    // Offsets travel as the platform's signed 32-bit distance.
    if (offset < std::numeric_limits<std::int32_t>::min() || offset > std::numeric_limits<std::int32_t>::max())
        return -1;
    const std::uint32_t method = origin == soBeginning ? FILE_BEGIN : origin == soCurrent ? FILE_CURRENT : FILE_END;
    const std::uint32_t at = Os().SetFilePointer(FHandle, static_cast<std::int32_t>(offset), method);
    return at == INVALID_SET_FILE_POINTER ? -1 : static_cast<std::int64_t>(at);
}

TFileStream::TFileStream(const std::u16string& fileName)
    : THandleStream(Os().CreateFileW(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL)),
      FFileName(fileName) {
    if (FHandle == InvalidHandleValue) {
        // The reason is read after the path is formed, so for the empty name
        // it is the reason no path could be formed.
        const std::u16string fullPath = FullPathName(fileName);
        const std::u16string reason = SysErrorMessage(Os().GetLastError());
        Raise<EFOpenError>(FormatText(u"ファイル %s は開けません。 %s ", {fullPath, reason}));
    }
}

TFileStream::~TFileStream() { Os().CloseHandle(FHandle); }

void TFileStream::ReadError() {
    const std::u16string reason = SysErrorMessage(FReadFailure);
    Raise<EReadError>(FormatText(u"ファイル %s は読み込めません。 %s ", {FullPathName(FFileName), reason}));
}

}  // namespace tessel
