#include "AddressBook.h"

#include "ReplaceFile.h"
#include "platform/BinaryFile.h"
#include "platform/Roots.h"

#include <algorithm>
#include <system_error>

namespace
{

// Each entry needs at least its two one-byte length prefixes.
constexpr std::uint64_t MIN_ENTRY_BYTES = 2;

} // namespace

std::filesystem::path AddressBookPath()
{
    return platform::SystemDirectory() / ADDRESS_BOOK_FILE_NAME;
}

EBookLoad CAddressBook::LoadFrom(platform::CArchiveIn& in)
{
    m_entries.clear();
    m_bDamaged = false;
    m_bDamagedFileKept = false;

    std::int32_t nCount = 0;
    if (!in.ReadInt32(nCount) || nCount < 0)
    {
        m_bDamaged = true;
        return EBookLoad::Damaged;
    }
    // A count the file cannot hold marks it damaged, but the entries that are there
    // are still worth having; nothing is reserved for the count itself.
    if (!in.CanHold(static_cast<std::uint64_t>(nCount) * MIN_ENTRY_BYTES))
        m_bDamaged = true;
    const int nWanted = std::min(nCount, MAX_ADDRESS_ENTRIES);
    for (int i = 0; i < nWanted; ++i)
    {
        SAddressEntry entry;
        if (platform::ReadArchiveString(in, entry.m_strName) != platform::EArchiveRead::Ok ||
            platform::ReadArchiveString(in, entry.m_strNumber) != platform::EArchiveRead::Ok)
        {
            m_bDamaged = true;
            break;
        }
        m_entries.push_back(std::move(entry));
    }
    return m_bDamaged ? EBookLoad::Damaged : EBookLoad::Loaded;
}

EBookLoad CAddressBook::Load(const std::filesystem::path& path)
{
    platform::CFileReader file;
    if (!file.Open(path))
    {
        m_entries.clear();
        m_bDamaged = false;
        return EBookLoad::Missing;
    }
    platform::CArchiveIn in(file);
    const EBookLoad eResult = LoadFrom(in);
    if (file.Failed() && eResult == EBookLoad::Loaded)
    {
        m_bDamaged = true;
        return EBookLoad::Damaged;
    }
    return eResult;
}

std::optional<std::string> CAddressBook::NumberFor(std::string_view strName) const
{
    std::optional<std::string> strNumber;
    for (const auto& entry : m_entries)
        if (entry.m_strName == strName)
            strNumber = entry.m_strNumber;
    return strNumber;
}

std::optional<std::string> CAddressBook::Encode(std::string_view strName, std::string_view strNumber) const
{
    std::vector<const SAddressEntry*> others;
    for (const auto& entry : m_entries)
        if (entry.m_strName != strName && others.size() + 1 < static_cast<std::size_t>(MAX_ADDRESS_ENTRIES))
            others.push_back(&entry);

    std::string strBytes;
    platform::AppendInt32(strBytes, static_cast<std::int32_t>(others.size() + 1));
    auto append = [&strBytes](std::string_view strText)
    {
        const auto strEncoded = platform::EncodeArchiveString(strText);
        if (strEncoded)
            strBytes += *strEncoded;
        return strEncoded.has_value();
    };
    if (!append(strName) || !append(strNumber))
        return std::nullopt;
    for (const auto* pEntry : others)
        if (!append(pEntry->m_strName) || !append(pEntry->m_strNumber))
            return std::nullopt;
    return strBytes;
}

bool CAddressBook::KeepDamagedFile(const std::filesystem::path& path, std::string& strError)
{
    auto kept = path;
    kept += DAMAGED_BOOK_SUFFIX;
    std::error_code error;
    if (!std::filesystem::exists(path, error))
        return true;
    std::filesystem::remove(kept, error);
    // A second name for the damaged file survives the rename of the new book onto the
    // old name; copying is the fallback where hard links are not to be had.
    std::filesystem::create_hard_link(path, kept, error);
    if (error)
    {
        error.clear();
        std::filesystem::copy_file(path, kept, std::filesystem::copy_options::overwrite_existing, error);
    }
    if (error)
    {
        strError = "keep " + path.string() + " as " + kept.string() + ": " + error.message();
        return false;
    }
    return true;
}

bool CAddressBook::Save(std::string_view strName, std::string_view strNumber, std::string& strError,
                        const std::filesystem::path& path)
{
    const auto strBytes = Encode(strName, strNumber);
    if (!strBytes)
    {
        strError = "an entry is too long for " + path.string();
        return false;
    }
    if (m_bDamaged && !m_bDamagedFileKept)
    {
        if (!KeepDamagedFile(path, strError))
            return false;
        m_bDamagedFileKept = true;
    }
    return ReplaceFile(path, *strBytes, strError);
}
