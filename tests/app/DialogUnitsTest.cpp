#include "sender/app/DialogUnits.h"

#include "resources/DialogTables.h"

#include <gtest/gtest.h>
#include <set>

using namespace resources;

TEST(DialogUnits, MulDivRoundsHalvesAwayFromZero)
{
    EXPECT_EQ(MulDivRound(255, 7, 4), 446);  // 446.25
    EXPECT_EQ(MulDivRound(102, 7, 4), 179);  // 178.5
    EXPECT_EQ(MulDivRound(124, 15, 8), 233); // 232.5
    EXPECT_EQ(MulDivRound(-102, 7, 4), -179);
    EXPECT_EQ(MulDivRound(5, 3, 0), 0);
}

TEST(DialogUnits, BaseUnitsComeFromTheAlphabetAndTheHeight)
{
    // 380 pixels for the 52 letters: 380 / 26 = 14, rounded half of it is 7.
    EXPECT_EQ(BaseUnitsFromFont(380, 15).m_nCharWidth, 7);
    EXPECT_EQ(BaseUnitsFromFont(380, 15).m_nCharHeight, 15);
    EXPECT_EQ(BaseUnitsFromFont(363, 13).m_nCharWidth, 7); // 13.96 -> 13 -> 7
    EXPECT_EQ(BaseUnitsFromFont(337, 13).m_nCharWidth, 6); // 12.96 -> 12 -> 6
}

TEST(DialogUnits, MainDialogAtSevenByFifteenHoldsTheWholeView)
{
    const SDialogBaseUnits units{7, 15};
    EXPECT_EQ(DialogRectToPixels(units, 0, 0, SEND_DIALOG.m_nWidth, SEND_DIALOG.m_nHeight),
              (SPixelRect{0, 0, 446, 332}));
    const auto* pPreview = FindControl(SEND_DIALOG, IDC_PREVIEW_SURFACE);
    const SPixelRect preview =
        DialogRectToPixels(units, pPreview->m_nX, pPreview->m_nY, pPreview->m_nWidth, pPreview->m_nHeight);
    EXPECT_EQ(preview, (SPixelRect{16, 6, 179, 233}));
    // The 170 x 220 view starts 5 pixels in and fits.
    EXPECT_GE(preview.m_nWidth, 5 + 170);
    EXPECT_GE(preview.m_nHeight, 5 + 220);
}

TEST(DialogTables, ControlsLieInsideTheirDialogsWithUniqueIds)
{
    for (const SDialogTemplate* pDialog : {&SEND_DIALOG, &SETTINGS_DIALOG, &ABOUT_DIALOG, &COVER_DIALOG})
    {
        std::set<int> ids;
        for (const auto& control : pDialog->m_aControls)
        {
            EXPECT_GE(control.m_nX, 0) << pDialog->m_nId << " " << control.m_pszText;
            EXPECT_GE(control.m_nY, 0);
            EXPECT_LE(control.m_nX + control.m_nWidth, pDialog->m_nWidth)
                << pDialog->m_nId << " " << control.m_pszText;
            EXPECT_LE(control.m_nY + control.m_nHeight, pDialog->m_nHeight)
                << pDialog->m_nId << " " << control.m_pszText;
            if (control.m_nId != ID_STATIC)
            {
                EXPECT_TRUE(ids.insert(control.m_nId).second) << control.m_nId;
            }
        }
    }
}
