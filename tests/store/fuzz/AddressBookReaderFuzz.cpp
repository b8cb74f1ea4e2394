// libFuzzer target: the address book reader on any bytes.

#include "sender/store/AddressBook.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize)
{
    CArchiveIn in(std::string_view(reinterpret_cast<const char*>(pData), nSize));
    CAddressBook book;
    const EBookLoad eResult = book.LoadFrom(in);
    if (book.Entries().size() > static_cast<std::size_t>(MAX_ADDRESS_ENTRIES))
        std::abort();
    if ((eResult == EBookLoad::Damaged) != book.IsDamaged())
        std::abort();

    // The book after one more send reads back whole, with that entry first.
    const auto strBytes = book.Encode("Fuzz_Co", "8612345");
    if (!strBytes)
        std::abort();
    CArchiveIn again(*strBytes);
    CAddressBook saved;
    if (saved.LoadFrom(again) != EBookLoad::Loaded || saved.Entries().empty() ||
        saved.Entries().front().m_strName != "Fuzz_Co" ||
        saved.Entries().size() > static_cast<std::size_t>(MAX_ADDRESS_ENTRIES))
        std::abort();
    for (std::size_t i = 1; i < saved.Entries().size(); ++i)
        if (saved.Entries()[i].m_strName == "Fuzz_Co")
            std::abort();
    return 0;
}
