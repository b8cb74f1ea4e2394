#include "platform/BinaryFile.h"

#include "platform/Text.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform
{

namespace
{

// The permissions a newly created file would get; mkstemp() ignores the umask.
mode_t NewFileMode()
{
    static const mode_t s_mode = []
    {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return static_cast<mode_t>(0666 & ~mask);
    }();
    return s_mode;
}

} // namespace

CFileReader::~CFileReader()
{
    Close();
}

bool CFileReader::Open(const std::filesystem::path& path)
{
    Close();
    // Opening a FIFO for reading waits for a writer, and a device may wait for a peer; a
    // non-blocking open never waits. Only a regular file is read; anything else fails as a
    // missing file does, and each caller already knows what to do then.
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (m_fd < 0)
        return false;
    struct stat st = {};
    const int nFlags = ::fcntl(m_fd, F_GETFL);
    if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode) || nFlags < 0 ||
        ::fcntl(m_fd, F_SETFL, nFlags & ~O_NONBLOCK) != 0)
    {
        Close();
        return false;
    }
    m_bFailed = false;
    m_nPos = m_nEnd = 0;
    return true;
}

std::size_t CFileReader::ReadFromDescriptor(void* pDest, std::size_t nBytes)
{
    auto* pOut = static_cast<std::uint8_t*>(pDest);
    std::size_t nDone = 0;
    while (nDone < nBytes)
    {
        const ssize_t n = ::read(m_fd, pOut + nDone, nBytes - nDone);
        if (n > 0)
            nDone += static_cast<std::size_t>(n);
        else if (n == 0)
            break;
        else if (errno != EINTR)
        {
            m_bFailed = true;
            break;
        }
    }
    return nDone;
}

std::size_t CFileReader::Read(void* pDest, std::size_t nBytes)
{
    if (m_fd < 0)
        return 0;
    auto* pOut = static_cast<std::uint8_t*>(pDest);
    std::size_t nDone = std::min(nBytes, m_nEnd - m_nPos);
    std::memcpy(pOut, m_buffer + m_nPos, nDone);
    m_nPos += nDone;
    if (nDone == nBytes)
        return nDone;
    // The buffer is empty now. A large request bypasses it; a small one refills it.
    if (nBytes - nDone >= FILE_BUFFER_BYTES)
        return nDone + ReadFromDescriptor(pOut + nDone, nBytes - nDone);
    m_nPos = 0;
    m_nEnd = ReadFromDescriptor(m_buffer, FILE_BUFFER_BYTES);
    const std::size_t nMore = std::min(nBytes - nDone, m_nEnd);
    std::memcpy(pOut + nDone, m_buffer, nMore);
    m_nPos = nMore;
    return nDone + nMore;
}

bool CFileReader::ReadByte(std::uint8_t& byte)
{
    if (m_nPos == m_nEnd)
    {
        if (m_fd < 0)
            return false;
        m_nPos = 0;
        m_nEnd = ReadFromDescriptor(m_buffer, FILE_BUFFER_BYTES);
        if (m_nEnd == 0)
            return false;
    }
    byte = m_buffer[m_nPos++];
    return true;
}

std::optional<std::uint64_t> CFileReader::Size() const
{
    struct stat st = {};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

void CFileReader::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_nPos = m_nEnd = 0;
}

CFileWriter::~CFileWriter()
{
    if (m_fd < 0)
        return;
    if (m_eMode != EWriteMode::Truncate)
        Discard();
    else
        (void)Close();
}

bool CFileWriter::Create(const std::filesystem::path& path, EWriteMode eMode)
{
    Discard();
    m_eMode = eMode;
    m_target = path;
    m_strError.clear();
    m_nUsed = 0;
    if (eMode == EWriteMode::Truncate)
    {
        m_written = path;
        m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    }
    else
    {
        // The temporary file sits in the target's folder so that the rename stays on one file system.
        std::string strTemplate =
            (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
        m_fd = ::mkostemp(strTemplate.data(), O_CLOEXEC);
        if (m_fd >= 0)
        {
            m_written = strTemplate;
            (void)::fchmod(m_fd, NewFileMode());
        }
    }
    if (m_fd < 0)
    {
        Fail("create");
        return false;
    }
    return true;
}

void CFileWriter::Fail(const char* pszWhat)
{
    if (m_strError.empty())
        m_strError = ErrnoText(std::string(pszWhat) + " " + m_target.string());
}

bool CFileWriter::SetPermissions(std::filesystem::perms permissions)
{
    if (m_fd < 0)
        return false;
    if (::fchmod(m_fd, static_cast<mode_t>(permissions & std::filesystem::perms::mask)) != 0)
        Fail("chmod");
    return m_strError.empty();
}

bool CFileWriter::WriteToDescriptor(const std::uint8_t* pData, std::size_t nBytes)
{
    while (nBytes > 0 && m_strError.empty())
    {
        const ssize_t n = ::write(m_fd, pData, nBytes);
        if (n > 0)
        {
            pData += n;
            nBytes -= static_cast<std::size_t>(n);
        }
        else if (n < 0 && errno == EINTR)
            continue;
        else
        {
            if (n == 0)
                errno = ENOSPC;
            Fail("write");
        }
    }
    return m_strError.empty();
}

bool CFileWriter::Flush()
{
    const bool bOk = WriteToDescriptor(m_buffer, m_nUsed);
    m_nUsed = 0;
    return bOk;
}

bool CFileWriter::Write(const void* pSource, std::size_t nBytes)
{
    if (m_fd < 0)
        return false;
    const auto* pIn = static_cast<const std::uint8_t*>(pSource);
    if (nBytes >= FILE_BUFFER_BYTES)
    {
        // Large blocks go straight to the file, after what is already buffered.
        return Flush() && WriteToDescriptor(pIn, nBytes);
    }
    while (nBytes > 0 && m_strError.empty())
    {
        const std::size_t nCopy = std::min(nBytes, FILE_BUFFER_BYTES - m_nUsed);
        std::memcpy(m_buffer + m_nUsed, pIn, nCopy);
        m_nUsed += nCopy;
        pIn += nCopy;
        nBytes -= nCopy;
        if (m_nUsed == FILE_BUFFER_BYTES)
            Flush();
    }
    return m_strError.empty();
}

bool CFileWriter::WriteByte(std::uint8_t byte)
{
    if (m_fd < 0)
        return false;
    if (m_nUsed == FILE_BUFFER_BYTES && !Flush())
        return false;
    m_buffer[m_nUsed++] = byte;
    return m_strError.empty();
}

bool CFileWriter::Close()
{
    if (m_fd < 0)
        return false;
    Flush();
    if (m_eMode == EWriteMode::Atomic && m_strError.empty() && ::fdatasync(m_fd) != 0)
        Fail("sync");
    if (::close(m_fd) != 0)
        Fail("close");
    m_fd = -1;
    if (m_eMode != EWriteMode::Truncate)
    {
        if (m_strError.empty() && ::rename(m_written.c_str(), m_target.c_str()) != 0)
            Fail("rename");
        if (!m_strError.empty())
            ::unlink(m_written.c_str());
    }
    return m_strError.empty();
}

void CFileWriter::Discard()
{
    if (m_fd < 0)
        return;
    ::close(m_fd);
    m_fd = -1;
    m_nUsed = 0;
    ::unlink(m_written.c_str());
}

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path, std::uint64_t nMaxBytes)
{
    CFileReader reader;
    if (!reader.Open(path))
        return std::nullopt;
    std::string strData;
    char chunk[FILE_BUFFER_BYTES];
    for (;;)
    {
        const std::size_t n = reader.Read(chunk, sizeof chunk);
        if (strData.size() + n > nMaxBytes)
            return std::nullopt;
        strData.append(chunk, n);
        if (n < sizeof chunk)
            break;
    }
    if (reader.Failed())
        return std::nullopt;
    return strData;
}

bool WriteWholeFile(const std::filesystem::path& path, std::string_view strData, EWriteMode eMode)
{
    CFileWriter writer;
    if (!writer.Create(path, eMode))
        return false;
    writer.Write(strData.data(), strData.size());
    return writer.Close();
}

} // namespace platform
