#pragma once
// Byte streams over platform file handles: what a rules file is read
// through. Releasing a TFileStream closes its file.
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace tessel {

enum TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
    virtual ~TStream() = default;

    /// Reads up to `count` bytes; answers how many arrived (0 on failure).
    virtual int Read(void* buffer, int count) = 0;
    /// Reads exactly `count` bytes, or raises EReadError: a text cut short
    /// would lose whatever followed without a word.
    void ReadBuffer(void* buffer, int count);
    /// Moves the position; answers the new one, or -1 when the platform
    /// cannot state it as a 32-bit offset.
    virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;

    std::int64_t Position() { return Seek(0, soCurrent); }
    /// Found by seeking to the end and back; -1 when it cannot be told.
    std::int64_t Size();

protected:
    [[noreturn]] virtual void ReadError();
};

class THandleStream : public TStream {
public:
    explicit THandleStream(FileHandle handle) : FHandle(handle) {}

    int Read(void* buffer, int count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;

    FileHandle Handle() const { return FHandle; }

protected:
    FileHandle FHandle;
    /// Why the last read delivered less than asked: the platform's error
    /// code, or ERROR_HANDLE_EOF when it ended early without one.
    std::uint32_t FReadFailure = 0;
};

class TFileStream : public THandleStream {
public:
    /// Opens an existing file for reading while others may only read it.
    /// Raises EFOpenError, naming the full path and the platform's reason,
    /// when the file cannot be opened.
    explicit TFileStream(const std::u16string& fileName);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

protected:
    /// Names the full path and the platform's reason, as the open does.
    [[noreturn]] void ReadError() override;

private:
    std::u16string FFileName;
};

}  // namespace tessel
