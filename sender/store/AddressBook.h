#pragma once

#include "sender/store/ArchiveString.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The address book flist.dll in the system directory: a 4-byte little-endian signed
// count N, then N pairs of archive strings (recipient name, fax number), the recipient
// of the latest send first.

inline constexpr const char* ADDRESS_BOOK_FILE_NAME = "flist.dll";
// Beside the book, the copies of damaged books that are kept before a save replaces them:
// the latest as the book's name + DAMAGED_BOOK_SUFFIX, the ones before it with ".1", ".2"
// ... appended, MAX_DAMAGED_BOOKS_KEPT in all; when all are taken, the oldest goes.
inline constexpr const char* DAMAGED_BOOK_SUFFIX = ".bad";
inline constexpr int MAX_DAMAGED_BOOKS_KEPT = 5;
// The book holds this many entries at most, in memory and on disk.
inline constexpr int MAX_ADDRESS_ENTRIES = 500;

std::filesystem::path AddressBookPath();

struct SAddressEntry
{
    std::string m_strName;
    std::string m_strNumber;
};

enum class EBookLoad
{
    // No file (or it cannot be opened): the book is empty.
    Missing,
    Loaded,
    // The file ends early or announces more than it holds: the book holds the entries
    // read whole before the damage, and the file is kept aside before the next save.
    Damaged,
};

class CAddressBook
{
public:
    // Loads the first MAX_ADDRESS_ENTRIES entries of the file, in file order.
    EBookLoad Load(const std::filesystem::path& path = AddressBookPath());
    EBookLoad LoadFrom(CArchiveIn& in);

    const std::vector<SAddressEntry>& Entries() const { return m_entries; }
    bool IsDamaged() const { return m_bDamaged; }

    // The number of the last entry whose name equals strName byte for byte.
    std::optional<std::string> NumberFor(std::string_view strName) const;

    // The file after a send to (strName, strNumber): that entry first, then the other
    // entries in their order without any of the same name, at most MAX_ADDRESS_ENTRIES
    // in all. Nullopt when a text has no archive form.
    std::optional<std::string> Encode(std::string_view strName, std::string_view strNumber) const;
    // The same after a send to several: aFirst in their order (a name given twice once, as
    // first given), then the other entries.
    std::optional<std::string> Encode(const std::vector<SAddressEntry>& aFirst) const;

    // Replaces the file atomically with Encode()'s bytes. A name longer than
    // MAX_RECIPIENT_NAME_BYTES or a number longer than MAX_FAX_NUMBER_DIGITS (Gateway.h) is
    // refused and nothing recorded. A book that was damaged when it was loaded is first
    // kept as the file name + DAMAGED_BOOK_SUFFIX, and the copies kept before move one
    // place on. The entries held in memory do not change. On failure strError names the
    // file, and the book is left as it was.
    [[nodiscard]] bool Save(std::string_view strName, std::string_view strNumber, std::string& strError,
                            const std::filesystem::path& path = AddressBookPath());
    // The same with several recipients first (Encode(aFirst)).
    [[nodiscard]] bool Save(const std::vector<SAddressEntry>& aFirst, std::string& strError,
                            const std::filesystem::path& path = AddressBookPath());

private:
    [[nodiscard]] bool KeepDamagedFile(const std::filesystem::path& path, std::string& strError);

    std::vector<SAddressEntry> m_entries;
    bool m_bDamaged = false;
    bool m_bDamagedFileKept = false;
};
