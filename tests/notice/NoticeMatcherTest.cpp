// The outcome words, the fax number in a text, and which notice gives which fax its outcome.
#include "sender/notice/NoticeMatcher.h"

#include "sender/notice/OutcomeWords.h"

#include <gtest/gtest.h>

namespace
{

TEST(NoticeMatcherTest, FindsTheNumberOnlyAsANumberOfItsOwn)
{
    const std::pair<const char*, bool> CASES[] = {
        {"Fax to 4940654321 sent", true}, {"Fax to +49 (40) 654-321: busy", true},
        {"to:4940654321.", true},         {"ref 04940654321", false},
        {"4940654321999", false},         {"49406 54321 x", true},
        {"49 40 65 43 2", false},         {"4940-654321-7", false},
    };
    for (const auto& [pszText, bFound] : CASES)
        EXPECT_EQ(HoldsFaxNumber(pszText, "4940654321"), bFound) << pszText;
}

TEST(NoticeMatcherTest, TakesFailureWordsBeforeSuccessWords)
{
    const std::tuple<const char*, EFaxStatus, const char*> CASES[] = {
        {"Fax delivered", EFaxStatus::Delivered, ""},
        {"Your fax was NOT delivered", EFaxStatus::Failed, "not delivered"},
        {"Transmission failed: busy", EFaxStatus::Failed, "busy"},
        {"Successful transmission", EFaxStatus::Delivered, ""},
        {"No answer after 3 tries", EFaxStatus::Failed, "no answer"},
        {"Number is not a fax", EFaxStatus::Failed, "not a fax"},
    };
    for (const auto& [pszText, eStatus, pszReason] : CASES)
    {
        const auto word = FindOutcomeWord(pszText);
        ASSERT_TRUE(word) << pszText;
        EXPECT_EQ(word->m_eStatus, eStatus) << pszText;
        EXPECT_EQ(word->m_strReason, pszReason) << pszText;
    }
    EXPECT_FALSE(FindOutcomeWord("Presentation of the busyness report"));
    EXPECT_EQ(DeliveryStatusReason("5.1.1"), "address not deliverable");
}

SNotice NumberNotice(std::uint32_t nUid, std::int64_t nDate, const std::string& strSubject)
{
    SNotice notice;
    notice.m_nUid = nUid;
    notice.m_nDate = nDate;
    notice.m_strSubject = strSubject;
    return notice;
}

TEST(NoticeMatcherTest, AssignsANoticeOnlyToTheOneFaxItFitsAndTheLatestWins)
{
    std::vector<SAwaitingFax> aFaxes(3);
    aFaxes[0] = {1, 1000, "<1@a>", "4930111111", ""};
    aFaxes[1] = {2, 1000, "<2@a>", "4930222222", ""};
    aFaxes[2] = {3, 1000, "<3@a>", "4930222222", ""}; // the same number as fax 2
    const std::vector<SNotice> aNotices = {
        NumberNotice(1, 5000, "4930111111: busy"),     NumberNotice(2, 9000, "4930111111: delivered"),
        NumberNotice(3, 6000, "4930111111: failed"),   NumberNotice(4, 9000, "4930222222: delivered"),
        NumberNotice(5, 100, "4930333333: delivered"),
    };

    const std::vector<SNoticeOutcome> aOutcomes = MatchNotices(aNotices, aFaxes);

    ASSERT_EQ(aOutcomes.size(), 1u);
    EXPECT_EQ(aOutcomes[0].m_nFaxId, 1);
    EXPECT_EQ(aOutcomes[0].m_eStatus, EFaxStatus::Delivered);
    EXPECT_EQ(aOutcomes[0].m_nNoticeDate, 9000);
}

} // namespace
