#pragma once

#include "sender/send/SendOperation.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// One set of pages sent to several recipients: the pages are made once, and each recipient
// gets its own mail to its own gateway address, with its own cover page when one is chosen.
// The cover is not put into the page files, as it is for one recipient: each recipient's cover
// is drawn and converted on its own, in a folder of the send's own, and goes as the mail's
// first page ahead of the shared pages. The page files stay as they are until every recipient
// has the fax, so that a send again to those not reached sends the same pages.

struct SFaxRecipient
{
    std::string m_strName;   // as CheckRecipient left it
    std::string m_strNumber; // checked by CheckRecipient
    std::string m_strAddress;
    // This recipient's cover page; nullopt: none.
    std::optional<SCoverRequest> m_cover;
};

struct SRecipientOutcome
{
    SFaxRecipient m_recipient;
    SSendResult m_result;
    // False when the send to this recipient was never begun: it was cancelled before, or the
    // server could not be reached or refused the sign-in for a recipient before it (m_result
    // then says so).
    bool m_bTried = false;
};

struct SMultiSendResult
{
    // The outcome of a send that reached no recipient's mail: no pages, the converter failed.
    std::optional<SSendResult> m_common;
    std::vector<SRecipientOutcome> m_aOutcomes;
    // Holds the recipients' own cover pages (m_result.m_aPageFiles names them) until the last
    // copy of the result goes, so that the records can copy them.
    std::shared_ptr<const std::filesystem::path> m_pCoverFolder;

    int SentCount() const;
    bool AllSent() const { return !m_common && SentCount() == static_cast<int>(m_aOutcomes.size()); }
};

// Sends the waiting fax to each recipient in turn, with the job's server, sender, subject,
// converter, cancel and progress (its m_strRecipientAddress and m_cover are not used). One
// recipient goes exactly as RunSendJob sends it, the cover put in as page 1. With several, a
// cover that a failed send to one of them put in as page 1 is left out: each gets its own.
// A refusal goes on with the next recipient; a server that cannot be reached or that refuses
// the sign-in, and a cancel, stop the rest. The page-count file goes once all have the fax.
SMultiSendResult RunMultiSendJob(const SSendJob& job, const std::vector<SFaxRecipient>& aRecipients);

// One line for a recipient's outcome: "Name (number): sent", or why not.
std::string RecipientOutcomeLine(const SRecipientOutcome& outcome);
// The end message: the outcome of a send to one recipient as SendOutcomeText gives it; for
// several, a first line with how many have the fax and one line for each recipient.
std::string MultiSendText(const SMultiSendResult& result);
