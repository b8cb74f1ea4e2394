#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

// Buffered binary files. Reading keeps a 4096-byte buffer for byte-at-a-time
// readers; large reads go straight to the kernel. Writing collects 4096 bytes
// before each write and remembers any failure, so that one check at Close()
// tells whether the whole file reached the disk.
namespace platform
{

constexpr std::size_t FILE_BUFFER_BYTES = 4096;

class CFileReader
{
public:
    CFileReader() = default;
    CFileReader(const CFileReader&) = delete;
    CFileReader& operator=(const CFileReader&) = delete;
    ~CFileReader();

    // Opens a regular file. Anything else (missing, a folder, a FIFO, a device) fails at
    // once, without waiting for a writer.
    [[nodiscard]] bool Open(const std::filesystem::path& path);
    bool IsOpen() const { return m_fd >= 0; }
    int Descriptor() const { return m_fd; }

    // Reads up to nBytes; fewer only at the end of the file or on an error (see Failed()).
    std::size_t Read(void* pDest, std::size_t nBytes);
    [[nodiscard]] bool ReadByte(std::uint8_t& byte);

    // Size of the open file in bytes, if the system can tell.
    std::optional<std::uint64_t> Size() const;
    // True once a read has failed for a reason other than the end of the file.
    bool Failed() const { return m_bFailed; }
    void Close();

private:
    std::size_t ReadFromDescriptor(void* pDest, std::size_t nBytes);

    int m_fd = -1;
    bool m_bFailed = false;
    std::size_t m_nPos = 0;
    std::size_t m_nEnd = 0;
    std::uint8_t m_buffer[FILE_BUFFER_BYTES] = {};
};

enum class EWriteMode
{
    // Create or truncate the file in place.
    Truncate,
    // Write a temporary file beside the target and rename it over the target at Close(),
    // so that the target is either the old file or the complete new one, never a part.
    Atomic,
    // Atomic, without waiting for the data to reach the disk before the rename: a crashed
    // process still never leaves a partial file under the target's name. For files that
    // are cheap to make again, where a sync per file would dominate the cost.
    AtomicNoSync,
};

class CFileWriter
{
public:
    CFileWriter() = default;
    CFileWriter(const CFileWriter&) = delete;
    CFileWriter& operator=(const CFileWriter&) = delete;
    // An atomic writer that was never closed successfully leaves the target untouched.
    ~CFileWriter();

    [[nodiscard]] bool Create(const std::filesystem::path& path, EWriteMode eMode = EWriteMode::Truncate);
    bool IsOpen() const { return m_fd >= 0; }

    // Gives the file being written these permissions, whatever the umask. In the atomic modes
    // the target thus has them from the moment it appears. A failure is reported as a write's.
    bool SetPermissions(std::filesystem::perms permissions);

    bool Write(const void* pSource, std::size_t nBytes);
    bool WriteByte(std::uint8_t byte);

    // Flushes, syncs (Atomic) and closes; in the atomic modes renames onto the target.
    // False if anything written since Create() failed to reach the file.
    [[nodiscard]] bool Close();
    // Gives up: closes and removes what was written (the temporary file, or the
    // truncated target in Truncate mode).
    void Discard();

    // Text of the first failure, for messages ("No space left on device").
    const std::string& Error() const { return m_strError; }

private:
    bool Flush();
    bool WriteToDescriptor(const std::uint8_t* pData, std::size_t nBytes);
    void Fail(const char* pszWhat);

    int m_fd = -1;
    EWriteMode m_eMode = EWriteMode::Truncate;
    std::filesystem::path m_target;
    std::filesystem::path m_written; // the file being written: the target or its temporary
    std::string m_strError;
    std::size_t m_nUsed = 0;
    std::uint8_t m_buffer[FILE_BUFFER_BYTES] = {};
};

// Whole-file helpers for small files.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path, std::uint64_t nMaxBytes);
[[nodiscard]] bool WriteWholeFile(const std::filesystem::path& path, std::string_view strData,
                                  EWriteMode eMode = EWriteMode::Atomic);

} // namespace platform
