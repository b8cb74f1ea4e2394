#pragma once

#include "sender/notice/NoticePoll.h"

#include <optional>
#include <string>
#include <string_view>

// The words by which a gateway's notice says how a fax went, in one table.

struct SOutcomeWord
{
    EFaxStatus m_eStatus = EFaxStatus::Sent;
    std::string m_strReason; // for Failed: the word itself ("busy", "no answer")
};

// The outcome that strText names, looking for whole words in any case. Failure words are looked
// for first: "not delivered" and "delivery failed" are failures that hold a success word. None
// when the text names no outcome.
std::optional<SOutcomeWord> FindOutcomeWord(std::string_view strText);

// A reason the user can read for a delivery status code (RFC 3463): "5.1.1" gives "address
// not deliverable".
std::string DeliveryStatusReason(std::string_view strStatus);
