#include "sender/send/MultiSend.h"

#include "platform/BinaryFile.h"
#include "platform/CancelSignal.h"
#include "platform/PageFiles.h"
#include "platform/Roots.h"
#include "platform/Text.h"
#include "sender/cover/CoverPage.h"
#include "sender/send/CoverInsertion.h"
#include "sender/send/SendCheck.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>

namespace
{

namespace fs = std::filesystem;

// The outcomes that leave no fax for anyone: they are told once, not for each recipient.
bool IsCommonOutcome(ESendOutcome eOutcome)
{
    switch (eOutcome)
    {
    case ESendOutcome::ConverterFailed:
    case ESendOutcome::NoPageCountFile:
    case ESendOutcome::NoPages:
    case ESendOutcome::PageMissing:
        return true;
    default:
        return false;
    }
}

// A private folder (0700) for the recipients' cover pages, removed with its last owner.
std::shared_ptr<const fs::path> MakeCoverFolder(std::string& strError)
{
    std::error_code error;
    std::string strTemplate = (fs::temp_directory_path(error) / "sendwell-covers-XXXXXX").string();
    if (error || ::mkdtemp(strTemplate.data()) == nullptr)
    {
        strError = platform::ErrnoText("cannot make a folder for the cover pages");
        return nullptr;
    }
    return std::shared_ptr<const fs::path>(new fs::path(strTemplate),
                                           [](const fs::path* pFolder)
                                           {
                                               std::error_code ignored;
                                               fs::remove_all(*pFolder, ignored);
                                               delete pFolder;
                                           });
}

// Draws the recipient's cover as the only page of a root of its own and converts it there, as the
// shared pages were: the fax page file, or an empty path with strError.
fs::path MakeCoverFaxPage(const SSendJob& job, const SCoverRequest& request, int nFaxPages,
                          const fs::path& root, std::string& strError)
{
    const fs::path drive = root / "c";
    std::error_code error;
    fs::create_directories(drive, error);
    if (error)
    {
        strError = "cannot make a folder for the cover page (" + error.message() + ")";
        return {};
    }
    SCoverFields fields = request.m_fields;
    fields.m_nPages = nFaxPages;
    fields.m_strDate.clear(); // today
    if (!WriteCoverPage(fields, request.m_template, drive / platform::RasterFileName(1), strError))
        return {};
    if (!platform::WriteWholeFile(drive / platform::PAGE_COUNT_FILE_NAME,
                                  std::string(1, static_cast<char>(platform::PageCountByte(1)))))
    {
        strError = platform::ErrnoText("cannot write the cover page's page count");
        return {};
    }
    const SConverterRun run =
        job.m_fnRunConverterIn ? job.m_fnRunConverterIn(root) : RunInstalledConverterIn(root);
    const fs::path page = drive / platform::FaxPageFileName(1);
    if (!run.m_bSucceeded || fs::file_size(page, error) == 0 || error)
    {
        strError = "the cover page could not be made into a fax page (" +
                   (run.m_bSucceeded ? std::string("no page") : run.m_strWhy) + ")";
        return {};
    }
    return page;
}

// Why a send that ended with this result stops the recipients after it: the next would meet
// the same server, and wait or be refused the same way.
bool StopsTheRest(const SSendResult& result)
{
    return result.m_eOutcome == ESendOutcome::ConnectFailed || result.m_bCredentialsRefused ||
           result.m_eOutcome == ESendOutcome::Cancelled;
}

SMultiSendResult RunForOne(const SSendJob& job, const SFaxRecipient& recipient)
{
    SSendJob one = job;
    one.m_strRecipientAddress = recipient.m_strAddress;
    one.m_cover = recipient.m_cover;
    SMultiSendResult result;
    SSendResult sent = RunSendJob(one);
    platform::WipeSecret(one.m_strPassword);
    if (IsCommonOutcome(sent.m_eOutcome))
        result.m_common = std::move(sent);
    else
        result.m_aOutcomes.push_back(SRecipientOutcome{recipient, std::move(sent), true});
    return result;
}

// The link's text without the reply code it starts with after a refused step ("550:...").
std::string WithoutReplyCode(std::string strText)
{
    if (strText.size() > 4 && strText[3] == ':' &&
        std::all_of(strText.begin(), strText.begin() + 3, [](char ch) { return ch >= '0' && ch <= '9'; }))
        strText.erase(0, 4);
    return strText;
}

} // namespace

int SMultiSendResult::SentCount() const
{
    return static_cast<int>(std::count_if(m_aOutcomes.begin(), m_aOutcomes.end(),
                                          [](const SRecipientOutcome& outcome)
                                          { return outcome.m_result.m_eOutcome == ESendOutcome::Sent; }));
}

SMultiSendResult RunMultiSendJob(const SSendJob& job, const std::vector<SFaxRecipient>& aRecipients)
{
    if (aRecipients.size() == 1)
        return RunForOne(job, aRecipients.front());
    SMultiSendResult result;
    if (aRecipients.empty())
        return result;

    // The shared pages are made as for one recipient, without a cover; a cover cut short is finished.
    SSendJob shared = job;
    shared.m_cover.reset();
    SSendResult made;
    const std::optional<int> nPages = MakeWaitingFaxPages(shared, made);
    platform::WipeSecret(shared.m_strPassword);
    if (!nPages)
    {
        result.m_common = std::move(made);
        return result;
    }
    // A cover that a failed send to one recipient put in names that recipient: it stays out.
    const int nFirst = WaitingFaxHasCover() ? 2 : 1;
    std::vector<fs::path> aShared;
    for (int nPage = nFirst; nPage <= *nPages; ++nPage)
        aShared.push_back(platform::DrivePath(platform::FaxPageFileName(nPage)));

    std::string strError;
    const SSendResult* pStop = nullptr;
    for (std::size_t i = 0; i < aRecipients.size(); ++i)
    {
        const SFaxRecipient& recipient = aRecipients[i];
        SRecipientOutcome outcome{recipient, {}, false};
        SSendResult& sent = outcome.m_result;
        if (job.m_pCancel != nullptr && job.m_pCancel->IsRaised())
            sent.m_eOutcome = ESendOutcome::Cancelled;
        else if (pStop != nullptr)
        {
            sent = *pStop;
            sent.m_bMayHaveArrived = false;
        }
        else
        {
            outcome.m_bTried = true;
            std::vector<fs::path> aPages = aShared;
            if (recipient.m_cover)
            {
                if (!result.m_pCoverFolder)
                    result.m_pCoverFolder = MakeCoverFolder(strError);
                const fs::path page =
                    result.m_pCoverFolder
                        ? MakeCoverFaxPage(job, *recipient.m_cover, static_cast<int>(aShared.size()) + 1,
                                           *result.m_pCoverFolder / std::to_string(i + 1), strError)
                        : fs::path();
                if (page.empty())
                {
                    sent.m_eOutcome = ESendOutcome::CoverFailed;
                    sent.m_strDetail = "the cover page cannot be drawn: " + strError;
                    result.m_aOutcomes.push_back(std::move(outcome));
                    continue;
                }
                aPages.insert(aPages.begin(), page);
            }
            SSendJob one = job;
            one.m_strRecipientAddress = recipient.m_strAddress;
            DeliverFaxPages(one, aPages, sent);
            platform::WipeSecret(one.m_strPassword);
            sent.m_bCoverSent = sent.m_eOutcome == ESendOutcome::Sent && recipient.m_cover.has_value();
        }
        result.m_aOutcomes.push_back(std::move(outcome));
        const SRecipientOutcome& last = result.m_aOutcomes.back();
        if (pStop == nullptr && last.m_bTried && StopsTheRest(last.m_result))
            pStop = &last.m_result;
    }
    // Everyone has the fax: its pages are done with, as after a send to one.
    if (result.AllSent())
        RemoveWaitingFax();
    return result;
}

std::string RecipientOutcomeLine(const SRecipientOutcome& outcome)
{
    const SSendResult& result = outcome.m_result;
    std::string strLine = outcome.m_recipient.m_strName + " (" + outcome.m_recipient.m_strNumber + "): ";
    if (result.m_eOutcome == ESendOutcome::Sent)
        return strLine + "sent";
    if (result.m_eOutcome == ESendOutcome::Cancelled)
        return strLine + (result.m_bMayHaveArrived ? "cancelled after the whole fax had gone out, so it may "
                                                     "have arrived"
                                                   : "not sent, the send was cancelled");
    if (!outcome.m_bTried)
        return strLine + "not tried, as the mail server could not be used for the one before";
    strLine += "not sent: " + platform::PrintableUtf8(WithoutReplyCode(result.m_strDetail));
    if (!result.m_strServerReply.empty())
        strLine += " (the server said: " + result.m_strServerReply + ")";
    return strLine;
}

std::string MultiSendText(const SMultiSendResult& result)
{
    if (result.m_common)
        return SendOutcomeText(*result.m_common);
    if (result.m_aOutcomes.size() == 1)
        return SendOutcomeText(result.m_aOutcomes.front().m_result);
    const int nAll = static_cast<int>(result.m_aOutcomes.size());
    const int nSent = result.SentCount();
    std::string strText;
    if (nSent == nAll)
        strText = "The fax was sent to all " + std::to_string(nAll) +
                  " recipients; the gateway will soon mail you about each:";
    else
        strText = "The fax was sent to " + std::to_string(nSent) + " of " + std::to_string(nAll) +
                  " recipients; its pages are kept for a send to the others:";
    for (const SRecipientOutcome& outcome : result.m_aOutcomes)
        strText += "\n" + RecipientOutcomeLine(outcome);
    return strText;
}
