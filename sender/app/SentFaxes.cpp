#include "sender/app/SentFaxes.h"

#include "pages/PageFileStage.h"
#include "platform/PageFiles.h"
#include "platform/Roots.h"
#include "sender/faxpage/FaxPageReader.h"

// The page raster is the fax page's first 1700 columns.
static_assert(FAX_PAGE_ROWS == platform::RASTER_ROWS && FAX_PAGE_WIDTH >= platform::RASTER_ROW_BYTES);

bool KeepSentFax(const std::string& strRecipient, const std::string& strFaxNumber,
                 const std::string& strGatewayAddress, const SSendResult& result,
                 const SSentFaxLimits& limits, std::string& strError, const std::filesystem::path& folder)
{
    SSentFax fax;
    fax.m_nSentAt = result.m_nSentAt;
    fax.m_strRecipient = strRecipient;
    fax.m_strFaxNumber = strFaxNumber;
    fax.m_strGatewayAddress = strGatewayAddress;
    fax.m_nMailBytes = result.m_nMailBytes;
    fax.m_strMessageId = result.m_strMessageId;
    fax.m_strServerReply = result.m_strDataReply;
    fax.m_bCoverSent = result.m_bCoverSent;
    // The files the mail carried; a result that does not name them sent the drive root's pages.
    std::vector<std::filesystem::path> aPages = result.m_aPageFiles;
    if (aPages.empty())
        for (int nPage = 1; nPage <= result.m_nPages; ++nPage)
            aPages.push_back(platform::DrivePath(platform::FaxPageFileName(nPage)));
    CSentFaxStore store(folder);
    return store.Add(fax, aPages, limits, strError);
}

std::optional<std::vector<std::uint8_t>> ReadFaxPageRaster(const std::filesystem::path& path,
                                                           std::string& strError)
{
    const auto page = ReadFaxPage(path, strError);
    if (!page)
        return std::nullopt;
    if (page->m_nRows != platform::RASTER_ROWS)
    {
        strError = path.filename().string() + " is not a fax page of 1728 x 2200 pixels";
        return std::nullopt;
    }
    std::vector<std::uint8_t> aRaster(platform::RASTER_BYTES);
    for (int nRow = 0; nRow < page->m_nRows; ++nRow)
    {
        const std::uint8_t* pRow = page->m_aBits.data() + std::size_t(nRow) * FAX_PAGE_ROW_BYTES;
        std::uint8_t* pOut = aRaster.data() + std::size_t(nRow) * platform::RASTER_ROW_BYTES;
        for (int x = 0; x < platform::RASTER_ROW_BYTES; ++x)
            pOut[x] = (pRow[x >> 3] >> (7 - (x & 7))) & 1 ? platform::RASTER_BLACK : platform::RASTER_WHITE;
    }
    return aRaster;
}

bool RestoreSentPages(const CSentFaxStore& store, const SSentFax& fax, std::string& strError)
{
    // A cover page is drawn anew for the new send, with its date and page count.
    const int nFirstPage = fax.m_bCoverSent ? 2 : 1;
    if (fax.m_nPages < nFirstPage || fax.m_nPages > platform::MAX_PAGES)
    {
        strError = "the fax has no pages that can be sent again";
        return false;
    }
    driver::CPageFileStage stage(platform::DriveRoot(), platform::MAX_PAGES, platform::EPageOrigin::Sendwell);
    if (!stage.Begin())
    {
        strError = stage.Error();
        return false;
    }
    for (int nPage = nFirstPage; nPage <= fax.m_nPages; ++nPage)
    {
        const auto path = store.PagePath(fax, nPage);
        std::string strProblem = "it is missing";
        const auto raster = path.empty() ? std::nullopt : ReadFaxPageRaster(path, strProblem);
        if (!raster)
        {
            strError = "the copy of page " + std::to_string(nPage) + " cannot be used (" + strProblem + ")";
            return false;
        }
        if (!stage.AddPage(*raster))
        {
            strError = stage.Error();
            return false;
        }
    }
    if (!stage.Commit())
    {
        strError = stage.Error();
        return false;
    }
    return true;
}
