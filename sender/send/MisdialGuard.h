#pragma once

#include "sender/store/AddressBook.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Before a send: does the recipient look like a slip of the finger against the address book?
// Numbers compare as the strings of digits they are, names byte for byte as the book stores them
// (after CheckRecipient has made blanks and dots underscores).
//   - A known name whose book number differs from the one typed: KnownNameOtherNumber.
//   - A number of the same length as one the book holds for another name, differing from it in
//     exactly one digit (OneDigitOff) or in two neighbouring digits that have changed places
//     (SwappedDigits).
// Not a misdial: the exact pair in the book; a number the book holds, under whatever name (offices
// share one fax machine, so a new name at a known number reaches the machine the user meant); and
// a number of another length than every close one, however alike: a digit more or less makes a
// prefix, an extension or a country code, a different number rather than a mistyped one.

enum class EMisdial
{
    OneDigitOff,
    SwappedDigits,
    KnownNameOtherNumber,
};

struct SMisdial
{
    EMisdial m_eKind = EMisdial::OneDigitOff;
    // The book's entry the typed number or name is close to.
    std::string m_strBookName;
    std::string m_strBookNumber;
};

// Nullopt when the pair looks intended. Of several close entries the first in the book (the most
// recently used) is named; a known name goes before a close number.
std::optional<SMisdial> FindLikelyMisdial(const std::vector<SAddressEntry>& aBook, std::string_view strName,
                                          std::string_view strNumber);

// The question for the dialog and the command line's refusal, one line ending in
// "Did you mean <book number> (<book name>)?"; what came from the book is made printable.
std::string MisdialQuestion(const SMisdial& misdial, std::string_view strName, std::string_view strNumber);
