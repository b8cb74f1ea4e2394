#pragma once

#include <cstddef>
#include <cstdint>

namespace platform
{

class CFileReader;

// The first bytes of an open file, mapped read-only and faulted in at once. Reading a
// large file this way saves copying it through a buffer. Only for files that nobody
// truncates while they are mapped: touching a page past a new end would stop the process.
class CMappedFile
{
public:
    CMappedFile() = default;
    CMappedFile(const CMappedFile&) = delete;
    CMappedFile& operator=(const CMappedFile&) = delete;
    ~CMappedFile();

    // Maps nBytes of the reader's file; false when the file is shorter or cannot be mapped.
    [[nodiscard]] bool Map(const CFileReader& file, std::size_t nBytes);
    const std::uint8_t* Data() const { return m_pData; }

private:
    const std::uint8_t* m_pData = nullptr;
    std::size_t m_nBytes = 0;
};

} // namespace platform
