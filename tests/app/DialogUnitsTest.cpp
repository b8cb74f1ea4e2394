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
    EXPECT_EQ(BaseUnitsFromFont(380, 15).nCharWidth, 7);
    EXPECT_EQ(BaseUnitsFromFont(380, 15).nCharHeight, 15);
    EXPECT_EQ(BaseUnitsFromFont(363, 13).nCharWidth, 7); // 13.96 -> 13 -> 7
    EXPECT_EQ(BaseUnitsFromFont(337, 13).nCharWidth, 6); // 12.96 -> 12 -> 6
}

TEST(DialogUnits, MainDialogAtSevenByFifteenHoldsTheWholeView)
{
    const SDialogBaseUnits units{7, 15};
    EXPECT_EQ(DialogRectToPixels(units, 0, 0, SEND_DIALOG.cx, SEND_DIALOG.cy), (SPixelRect{0, 0, 446, 304}));
    const auto* pPreview = FindControl(SEND_DIALOG, IDC_PREVIEW_SURFACE);
    const SPixelRect preview =
        DialogRectToPixels(units, pPreview->x, pPreview->y, pPreview->cx, pPreview->cy);
    EXPECT_EQ(preview, (SPixelRect{16, 6, 179, 233}));
    // The 170 x 220 view starts 5 pixels in and fits.
    EXPECT_GE(preview.cx, 5 + 170);
    EXPECT_GE(preview.cy, 5 + 220);
}

TEST(DialogTables, ControlsLieInsideTheirDialogsWithUniqueIds)
{
    for (const SDialogTemplate* pDialog : {&SEND_DIALOG, &SETTINGS_DIALOG, &ABOUT_DIALOG})
    {
        std::set<int> ids;
        for (const auto& control : pDialog->controls)
        {
            EXPECT_GE(control.x, 0) << pDialog->nId << " " << control.pszText;
            EXPECT_GE(control.y, 0);
            EXPECT_LE(control.x + control.cx, pDialog->cx) << pDialog->nId << " " << control.pszText;
            EXPECT_LE(control.y + control.cy, pDialog->cy) << pDialog->nId << " " << control.pszText;
            if (control.nId != ID_STATIC)
            {
                EXPECT_TRUE(ids.insert(control.nId).second) << control.nId;
            }
        }
    }
}
