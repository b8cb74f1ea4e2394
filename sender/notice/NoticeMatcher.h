#pragma once

#include "sender/notice/Notice.h"
#include "sender/notice/NoticePoll.h"

#include <string_view>
#include <vector>

// Matches notices to the faxes that await word. A notice names its fax, in this order, by the
// Message-ID of the fax mail in the returned headers of a delivery status notification, by that
// Message-ID in In-Reply-To or References, or by the fax number in its subject or text with a
// date after the send. What it says comes from the report (a failure only) or from the outcome
// words of its subject, else of its text. A notice that fits several faxes, or says nothing
// that the table knows, is not assigned.
//
// A fax gets one outcome at most: the latest notice (by its date, then by its UID, which grows
// with arrival) wins, because a gateway's later word replaces its earlier ("busy, will retry",
// then "delivered").
std::vector<SNoticeOutcome> MatchNotices(const std::vector<SNotice>& aNotices,
                                         const std::vector<SAwaitingFax>& aAwaiting);

// Whether the fax number's digits stand in strText as a number of their own: blanks, dashes,
// dots, slashes or parentheses (two at most in a row) may part its digits, and no digit may
// touch it on either side, directly or across a dash, dot or slash, so that 301234 is not found
// in 4930123456 nor 4940654321 in 4940-654321-7.
bool HoldsFaxNumber(std::string_view strText, std::string_view strDigits);
