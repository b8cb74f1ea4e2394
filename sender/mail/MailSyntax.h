#pragma once

#include <string_view>

// Small checks on texts that go into header lines and commands.

// CR, LF or NUL: any of them would end a header line or a command early.
bool HoldsLineBreakOrNul(std::string_view strText);

// Control characters: platform::HoldsControlCharacter (platform/Text.h).

// An address is written between "<" and ">": it may hold no blank, no "<" or ">" and no
// control character.
bool IsUnsafeAddress(std::string_view strAddress);

// One "@" with text on both sides, and nothing IsUnsafeAddress refuses: an address that can
// stand as the sender of a mail, in the MAIL command and the From line alike.
bool IsPlainAddress(std::string_view strAddress);

// Letters, digits, "-" and "." in non-empty labels: a name that can stand as a domain in a
// greeting or a Message-ID.
bool IsPlainDomain(std::string_view strName);

// RFC 5322 3.2.3 atext: letters, digits and !#$%&'*+-/=?^_`{|}~, the characters of a mailbox
// name other than the dot.
bool IsAtomCharacter(unsigned char ch);

// Atoms joined by single dots (RFC 5322 dot-atom): a local part that needs no quoting.
bool IsDotAtom(std::string_view strText);
