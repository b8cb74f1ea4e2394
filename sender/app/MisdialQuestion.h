#pragma once

#include "sender/send/GatewayTemplate.h"
#include "sender/store/AddressBook.h"

#include <string>
#include <vector>

class QWidget;

// Before a send: when the typed name and number look like a misdial of an address-book entry
// (FindLikelyMisdial in sender/send/MisdialGuard.h), asks "Did you mean ...?" with both choices:
// the book's entry (its name and number) or the recipient as typed, and Cancel. strName (as
// CheckRecipient left it) and strNumber become the choice; false when the user cancels (or the
// book's entry fails CheckRecipient, which is then told), and then nothing is sent. Nothing is asked when the
// pair looks intended. With a message log the question is logged and answered with its default, the book's
// entry.
[[nodiscard]] bool ConfirmLikelyMisdial(QWidget* pParent, const std::vector<SAddressEntry>& aBook,
                                        const CGatewayTemplate& gateway, std::string& strName,
                                        std::string& strNumber);
