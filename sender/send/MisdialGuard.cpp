#include "sender/send/MisdialGuard.h"

#include "platform/Text.h"

namespace
{

// How a typed number is close to a number of the book: one digit changed, or two neighbours
// changed places. Numbers of different lengths are never close.
std::optional<EMisdial> Closeness(std::string_view strTyped, std::string_view strBook)
{
    if (strTyped.size() != strBook.size())
        return std::nullopt;
    std::size_t nFirst = 0;
    int nDifferences = 0;
    for (std::size_t i = 0; i < strTyped.size(); ++i)
    {
        if (strTyped[i] == strBook[i])
            continue;
        if (++nDifferences == 1)
            nFirst = i;
        else if (nDifferences > 2 || i != nFirst + 1)
            return std::nullopt;
    }
    if (nDifferences == 1)
        return EMisdial::OneDigitOff;
    // Two neighbours differ: a swap when each holds the other's digit.
    if (nDifferences == 2 && strTyped[nFirst] == strBook[nFirst + 1] &&
        strTyped[nFirst + 1] == strBook[nFirst])
        return EMisdial::SwappedDigits;
    return std::nullopt;
}

} // namespace

std::optional<SMisdial> FindLikelyMisdial(const std::vector<SAddressEntry>& aBook, std::string_view strName,
                                          std::string_view strNumber)
{
    const SAddressEntry* pSameName = nullptr;
    bool bKnownNumber = false;
    for (const SAddressEntry& entry : aBook)
    {
        if (entry.m_strName == strName)
        {
            if (entry.m_strNumber == strNumber)
                return std::nullopt;
            if (pSameName == nullptr)
                pSameName = &entry;
        }
        bKnownNumber = bKnownNumber || entry.m_strNumber == strNumber;
    }
    if (pSameName != nullptr)
        return SMisdial{EMisdial::KnownNameOtherNumber, pSameName->m_strName, pSameName->m_strNumber};
    if (bKnownNumber)
        return std::nullopt;
    // No entry has this name now, so every close number belongs to someone else.
    for (const SAddressEntry& entry : aBook)
        if (const auto eKind = Closeness(strNumber, entry.m_strNumber))
            return SMisdial{*eKind, entry.m_strName, entry.m_strNumber};
    return std::nullopt;
}

std::string MisdialQuestion(const SMisdial& misdial, std::string_view strName, std::string_view strNumber)
{
    const std::string strBookName = platform::PrintableUtf8(misdial.m_strBookName);
    const std::string strBookNumber = platform::PrintableUtf8(misdial.m_strBookNumber);
    const std::string strTyped = platform::PrintableUtf8(strNumber);
    const std::string strOfBook = ", the number of " + strBookName + " in your address book. ";
    std::string strWhy;
    switch (misdial.m_eKind)
    {
    case EMisdial::OneDigitOff:
        strWhy = "The fax number " + strTyped + " for " + platform::PrintableUtf8(strName) +
                 " differs by one digit from " + strBookNumber + strOfBook;
        break;
    case EMisdial::SwappedDigits:
        strWhy = "The fax number " + strTyped + " for " + platform::PrintableUtf8(strName) +
                 " has two digits swapped against " + strBookNumber + strOfBook;
        break;
    case EMisdial::KnownNameOtherNumber:
        strWhy = "Your address book holds the fax number " + strBookNumber + " for " + strBookName +
                 ", not " + strTyped + ". ";
        break;
    }
    return strWhy + "Did you mean " + strBookNumber + " (" + strBookName + ")?";
}
