#include "sender/store/AddressBook.h"

#include "platform/BinaryFile.h"
#include "platform/Roots.h"
#include "sender/common/Gateway.h"
#include "sender/store/ReplaceFile.h"

#include <algorithm>
#include <string>
#include <system_error>

namespace
{

// Each entry needs at least its two one-byte length prefixes.
constexpr std::uint64_t MIN_ENTRY_BYTES = 2;

// The kept copy of a damaged book: nAge 0 is the latest, flist.dll.bad; then flist.dll.bad.1 ...
std::filesystem::path KeptBookPath(const std::filesystem::path& book, int nAge)
{
    auto kept = book;
    kept += DAMAGED_BOOK_SUFFIX;
    if (nAge > 0)
        kept += "." + std::to_string(nAge);
    return kept;
}

// Gives the damaged book the second name `staged`. A hard link writes nothing and so can
// leave nothing half-written; where the file system has no links, a copy is written
// beside it and takes the name only once it is complete.
bool StageDamagedBook(const std::filesystem::path& book, const std::filesystem::path& staged,
                      std::string& strError)
{
    std::error_code error;
    // A staged copy left by a save that was cut short is not needed any more.
    std::filesystem::remove(staged, error);
    std::filesystem::create_hard_link(book, staged, error);
    if (!error)
    {
        // The copy holds recipients too: nobody else reads it, even where an older book did.
        std::filesystem::permissions(staged,
                                     std::filesystem::perms::group_all | std::filesystem::perms::others_all,
                                     std::filesystem::perm_options::remove, error);
        return true;
    }

    platform::CFileReader in;
    platform::CFileWriter out;
    if (!in.Open(book))
    {
        strError = "cannot read " + book.string();
        return false;
    }
    if (!out.Create(staged, platform::EWriteMode::Atomic) ||
        !out.SetPermissions(std::filesystem::perms::owner_read | std::filesystem::perms::owner_write))
    {
        strError = out.Error();
        return false;
    }
    char chunk[platform::FILE_BUFFER_BYTES];
    for (std::size_t nRead = sizeof chunk; nRead == sizeof chunk;)
    {
        nRead = in.Read(chunk, sizeof chunk);
        out.Write(chunk, nRead);
    }
    if (in.Failed())
    {
        out.Discard();
        strError = "cannot read " + book.string();
        return false;
    }
    if (!out.Close())
    {
        strError = out.Error();
        return false;
    }
    return true;
}

} // namespace

std::filesystem::path AddressBookPath()
{
    return platform::SystemDirectory() / ADDRESS_BOOK_FILE_NAME;
}

EBookLoad CAddressBook::LoadFrom(CArchiveIn& in)
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
        if (ReadArchiveString(in, entry.m_strName) != EArchiveRead::Ok ||
            ReadArchiveString(in, entry.m_strNumber) != EArchiveRead::Ok)
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
    CArchiveIn in(file);
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
    return Encode({SAddressEntry{std::string(strName), std::string(strNumber)}});
}

std::optional<std::string> CAddressBook::Encode(const std::vector<SAddressEntry>& aFirst) const
{
    // The recipients first, each name once; the book's other entries keep their order, and
    // those of a recipient's name go.
    std::vector<const SAddressEntry*> entries;
    const auto isFirst = [&entries](const std::string& strName, std::size_t nFirst)
    {
        return std::any_of(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(nFirst),
                           [&strName](const SAddressEntry* pEntry) { return pEntry->m_strName == strName; });
    };
    for (const auto& entry : aFirst)
        if (!isFirst(entry.m_strName, entries.size()))
            entries.push_back(&entry);
    const std::size_t nFirst = entries.size();
    for (const auto& entry : m_entries)
        if (!isFirst(entry.m_strName, nFirst))
            entries.push_back(&entry);
    entries.resize(std::min(entries.size(), static_cast<std::size_t>(MAX_ADDRESS_ENTRIES)));

    std::string strBytes;
    AppendInt32(strBytes, static_cast<std::int32_t>(entries.size()));
    for (const auto* pEntry : entries)
        for (const std::string* pText : {&pEntry->m_strName, &pEntry->m_strNumber})
        {
            const auto strEncoded = EncodeArchiveString(*pText);
            if (!strEncoded)
                return std::nullopt;
            strBytes += *strEncoded;
        }
    return strBytes;
}

bool CAddressBook::KeepDamagedFile(const std::filesystem::path& path, std::string& strError)
{
    std::error_code error;
    if (!std::filesystem::exists(path, error))
        return true;
    // The new copy is complete before any older one moves, so that a failure costs none of them.
    const auto staged = path.parent_path() / ("." + path.filename().string() + DAMAGED_BOOK_SUFFIX + ".new");
    const auto latest = KeptBookPath(path, 0);
    if (!StageDamagedBook(path, staged, strError))
    {
        strError = "keep " + path.string() + " as " + latest.string() + ": " + strError;
        return false;
    }
    // Each older copy moves one place on; the move onto the last place drops the oldest.
    for (int nAge = MAX_DAMAGED_BOOKS_KEPT - 1; nAge > 0 && !error; --nAge)
    {
        std::filesystem::rename(KeptBookPath(path, nAge - 1), KeptBookPath(path, nAge), error);
        if (error == std::errc::no_such_file_or_directory)
            error.clear();
    }
    if (!error)
        std::filesystem::rename(staged, latest, error);
    if (error)
    {
        std::error_code ignored;
        std::filesystem::remove(staged, ignored);
        strError = "keep " + path.string() + " as " + latest.string() + ": " + error.message();
        return false;
    }
    return true;
}

bool CAddressBook::Save(std::string_view strName, std::string_view strNumber, std::string& strError,
                        const std::filesystem::path& path)
{
    return Save({SAddressEntry{std::string(strName), std::string(strNumber)}}, strError, path);
}

bool CAddressBook::Save(const std::vector<SAddressEntry>& aFirst, std::string& strError,
                        const std::filesystem::path& path)
{
    // The send checks refuse these first; the book records no recipient that the gateway
    // could not be sent to. Entries already in the book stay as they are.
    for (const auto& entry : aFirst)
        if (entry.m_strName.size() > MAX_RECIPIENT_NAME_BYTES ||
            entry.m_strNumber.size() > MAX_FAX_NUMBER_DIGITS)
        {
            strError = "a recipient name may be at most " + std::to_string(MAX_RECIPIENT_NAME_BYTES) +
                       " characters and a fax number at most " + std::to_string(MAX_FAX_NUMBER_DIGITS) +
                       " digits long; nothing was recorded in " + path.string();
            return false;
        }
    const auto strBytes = Encode(aFirst);
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
