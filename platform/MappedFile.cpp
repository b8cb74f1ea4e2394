#include "platform/MappedFile.h"

#include "platform/BinaryFile.h"

#include <sys/mman.h>

namespace platform
{

CMappedFile::~CMappedFile()
{
    if (m_pData != nullptr)
        ::munmap(const_cast<std::uint8_t*>(m_pData), m_nBytes);
}

bool CMappedFile::Map(const CFileReader& file, std::size_t nBytes)
{
    if (m_pData != nullptr || nBytes == 0 || file.Size().value_or(0) < nBytes)
        return false;
    void* pMap = ::mmap(nullptr, nBytes, PROT_READ, MAP_PRIVATE | MAP_POPULATE, file.Descriptor(), 0);
    if (pMap == MAP_FAILED)
        return false;
    m_pData = static_cast<const std::uint8_t*>(pMap);
    m_nBytes = nBytes;
    return true;
}

} // namespace platform
