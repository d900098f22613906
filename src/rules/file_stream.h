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
    /// Moves the position; answers the new one, or -1 when the platform
    /// cannot state it as a 32-bit offset.
    virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;

    std::int64_t Position() { return Seek(0, soCurrent); }
    /// Found by seeking to the end and back; -1 when it cannot be told.
    std::int64_t Size();
};

class THandleStream : public TStream {
public:
    explicit THandleStream(FileHandle handle) : FHandle(handle) {}

    int Read(void* buffer, int count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;

    FileHandle Handle() const { return FHandle; }

protected:
    FileHandle FHandle;
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
};

}  // namespace tessel
