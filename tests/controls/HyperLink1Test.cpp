#include "sender/controls/HyperLink1.h"

#include "sender/controls/TextFit.h"
#include "tests/controls/ControlsTestSupport.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPushButton>
#include <gtest/gtest.h>

namespace
{

constexpr const char* TARGET = "https://www.example.com/more";

class HyperLink1Test : public testing::Test, public CControlsTestBase
{
protected:
    // A link as the dialog would make one: text, geometry, attached, then shown with a button
    // beside it that can take the focus away.
    CHyperLink1* MakeLink(const QString& strText, std::uint32_t uAddStyle = 0)
    {
        auto* pLink = new CHyperLink1(m_pDialog.get());
        pLink->setText(strText);
        pLink->setGeometry(20, 20, 300, 30);
        pLink->Attach();
        pLink->SetTarget(TARGET);
        EXPECT_TRUE(pLink->AlterLinkStyle(0, uAddStyle, CHyperLink1::EApply::Now));
        m_pButton = new QPushButton("Other", m_pDialog.get());
        m_pButton->setGeometry(20, 200, 80, 30);
        ShowDialog();
        return pLink;
    }

    QPushButton* m_pButton = nullptr;
};

TEST_F(HyperLink1Test, AttachingFillsAnEmptyTargetFromTheTextAndAnEmptyTextFromTheTarget)
{
    auto* pFromText = new CHyperLink1(m_pDialog.get());
    pFromText->setText("https://text.example");
    pFromText->Attach();
    EXPECT_EQ(pFromText->Target(), "https://text.example");
    EXPECT_EQ(pFromText->toolTip(), "https://text.example");

    auto* pFromTarget = new CHyperLink1(m_pDialog.get());
    pFromTarget->SetTarget("https://target.example");
    pFromTarget->Attach();
    EXPECT_EQ(pFromTarget->text(), "https://target.example");

    // After attaching, a new target shows in the tool tip; the text stays.
    pFromTarget->SetTarget("https://other.example");
    EXPECT_EQ(pFromTarget->toolTip(), "https://other.example");
    EXPECT_EQ(pFromTarget->text(), "https://target.example");
}

TEST_F(HyperLink1Test, DefaultStyleUnderlinesAndFitsTheLabelToItsText)
{
    CHyperLink1* pLink = MakeLink("www.example.com");
    EXPECT_EQ(pLink->LinkStyle(), 0x15u);
    EXPECT_TRUE(pLink->font().underline());
    const QFontMetrics metrics(pLink->font());
    EXPECT_EQ(pLink->geometry(),
              QRect(20, 20, metrics.horizontalAdvance("www.example.com"), metrics.height()));
}

TEST_F(HyperLink1Test, FittingKeepsTheEdgeTheAlignmentNames)
{
    const QSize sizeText(41, 13);
    const QRect rc(100, 50, 200, 30);
    EXPECT_EQ(FitRectToText(rc, sizeText, Qt::AlignLeft | Qt::AlignTop), QRect(100, 50, 41, 13));
    EXPECT_EQ(FitRectToText(rc, sizeText, Qt::AlignRight | Qt::AlignTop), QRect(259, 50, 41, 13));
    // (200 - 41) / 2 = 79 and (30 - 13) / 2 = 8 from each side, rounded towards zero.
    EXPECT_EQ(FitRectToText(rc, sizeText, Qt::AlignCenter), QRect(179, 58, 42, 14));
    // A text wider than the label makes it grow the same way.
    EXPECT_EQ(FitRectToText(QRect(0, 0, 10, 10), QSize(31, 10), Qt::AlignHCenter | Qt::AlignTop),
              QRect(-10, 0, 30, 10));
}

TEST_F(HyperLink1Test, AFramedLinkKeepsItsFrameAroundTheFittedText)
{
    auto* pLink = new CHyperLink1(m_pDialog.get());
    pLink->setText("framed");
    pLink->setFrameStyle(QFrame::Box | QFrame::Plain);
    pLink->setLineWidth(2);
    pLink->setGeometry(10, 10, 200, 40);
    pLink->Attach();
    const QFontMetrics metrics(pLink->font());
    EXPECT_EQ(pLink->size(), QSize(metrics.horizontalAdvance("framed") + 4, metrics.height() + 4));
}

TEST_F(HyperLink1Test, AlterLinkStyleRefusesABitBothRemovedAndAdded)
{
    CHyperLink1* pLink = MakeLink("www.example.com");
    EXPECT_FALSE(pLink->AlterLinkStyle(CHyperLink1::LinkUnderline, CHyperLink1::LinkUnderline,
                                       CHyperLink1::EApply::Now));
    EXPECT_EQ(pLink->LinkStyle(), 0x15u);
    EXPECT_TRUE(pLink->font().underline());

    EXPECT_TRUE(pLink->AlterLinkStyle(CHyperLink1::LinkUnderline, CHyperLink1::LinkOpenOnPress,
                                      CHyperLink1::EApply::Now));
    EXPECT_EQ(pLink->LinkStyle(), 0x1Cu);
    EXPECT_FALSE(pLink->font().underline());

    // Stored only: the font stays as it is until the style is applied.
    EXPECT_TRUE(pLink->AlterLinkStyle(0, CHyperLink1::LinkUnderline, CHyperLink1::EApply::Later));
    EXPECT_FALSE(pLink->font().underline());
}

TEST_F(HyperLink1Test, HoverHoldsTheMouseButShowsTheHoverColourOnlyWithHoverTint)
{
    CHyperLink1* pLink = MakeLink("www.example.com");
    MoveMouse(pLink, QPoint(3, 3));
    EXPECT_TRUE(pLink->IsHovering());
    EXPECT_EQ(QWidget::mouseGrabber(), pLink);
    EXPECT_EQ(pLink->CurrentColour(), CHyperLink1::LinkColour());

    // Held, the link sees the move that leaves it, and lets the mouse go.
    MoveMouse(m_pButton, QPoint(5, 5));
    EXPECT_FALSE(pLink->IsHovering());
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);

    ASSERT_TRUE(pLink->AlterLinkStyle(0, CHyperLink1::LinkHoverTint, CHyperLink1::EApply::Now));
    MoveMouse(pLink, QPoint(3, 3));
    EXPECT_EQ(pLink->CurrentColour(), CHyperLink1::HoverColour());
    const QImage hovered = pLink->grab().toImage();
    EXPECT_FALSE(PixelsOfColour(hovered, CHyperLink1::HoverColour()).isEmpty());
    MoveMouse(m_pButton, QPoint(5, 5));
    EXPECT_EQ(pLink->CurrentColour(), CHyperLink1::LinkColour());
    EXPECT_FALSE(PixelsOfColour(pLink->grab().toImage(), CHyperLink1::LinkColour()).isEmpty());
}

TEST_F(HyperLink1Test, OpenOnPressOpensAtOnceTakesTheFocusAndTheReleaseDoesNothingMore)
{
    CHyperLink1* pLink = MakeLink("www.example.com", CHyperLink1::LinkOpenOnPress);
    PressMouse(pLink, QPoint(3, 3));
    ASSERT_EQ(m_opened.size(), 1u);
    EXPECT_EQ(m_opened[0].m_strTarget, TARGET);
    EXPECT_EQ(m_opened[0].m_eFallback, CLinkOpener::EFallback::Browser);
    EXPECT_TRUE(pLink->hasFocus());
    EXPECT_TRUE(pLink->IsVisited());
    // The focus colour comes before the visited colour.
    EXPECT_EQ(pLink->CurrentColour(), CHyperLink1::FocusColour());

    ReleaseMouse(pLink, QPoint(3, 3));
    EXPECT_EQ(m_opened.size(), 1u);

    // Away from the focus, it shows that it was visited, for good.
    m_pButton->setFocus();
    EXPECT_FALSE(pLink->HasFocusFlag());
    EXPECT_EQ(pLink->CurrentColour(), CHyperLink1::VisitedColour());
    EXPECT_TRUE(MessageLines().empty());
}

TEST_F(HyperLink1Test, WithoutOpenOnPressTheReleaseOpens)
{
    CHyperLink1* pLink = MakeLink("www.example.com");
    PressMouse(pLink, QPoint(3, 3));
    EXPECT_TRUE(m_opened.empty());
    EXPECT_TRUE(pLink->hasFocus());
    ReleaseMouse(pLink, QPoint(3, 3));
    EXPECT_EQ(m_opened.size(), 1u);
}

TEST_F(HyperLink1Test, WithoutFocusOnPressAPressLeavesTheFocusWhereItWas)
{
    CHyperLink1* pLink = MakeLink("www.example.com");
    ASSERT_TRUE(pLink->AlterLinkStyle(CHyperLink1::LinkFocusOnPress, 0, CHyperLink1::EApply::Now));
    m_pButton->setFocus();
    PressMouse(pLink, QPoint(3, 3));
    EXPECT_TRUE(m_pButton->hasFocus());
    // The press still counts for the release and the colour.
    EXPECT_TRUE(pLink->HasFocusFlag());
    ReleaseMouse(pLink, QPoint(3, 3));
    EXPECT_EQ(m_opened.size(), 1u);
}

TEST_F(HyperLink1Test, NoFocusTintShowsTheVisitedColourWhileFocused)
{
    CHyperLink1* pLink =
        MakeLink("www.example.com", CHyperLink1::LinkOpenOnPress | CHyperLink1::LinkNoFocusTint);
    PressMouse(pLink, QPoint(3, 3));
    EXPECT_TRUE(pLink->hasFocus());
    EXPECT_EQ(pLink->CurrentColour(), CHyperLink1::VisitedColour());
}

TEST_F(HyperLink1Test, LosingTheFocusEndsTheHoverAndLetsTheMouseGo)
{
    CHyperLink1* pLink = MakeLink("www.example.com", CHyperLink1::LinkHoverTint);
    pLink->setFocus();
    MoveMouse(pLink, QPoint(3, 3));
    ASSERT_EQ(QWidget::mouseGrabber(), pLink);
    m_pButton->setFocus();
    EXPECT_FALSE(pLink->IsHovering());
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    EXPECT_EQ(pLink->CurrentColour(), CHyperLink1::LinkColour());
}

TEST_F(HyperLink1Test, TheSpaceBarOpensAFocusedLinkAndEnterDoesNot)
{
    CHyperLink1* pLink = MakeLink("www.example.com");
    pLink->setFocus();
    ASSERT_TRUE(pLink->hasFocus());
    EXPECT_EQ(pLink->CurrentColour(), CHyperLink1::FocusColour());
    PressKey(Qt::Key_Return);
    EXPECT_TRUE(m_opened.empty());
    PressKey(Qt::Key_Space);
    EXPECT_EQ(m_opened.size(), 1u);
}

TEST_F(HyperLink1Test, AFailedOpeningBeepsAndNamesTheReasonAndTheLinkStaysUnvisited)
{
    CHyperLink1* pLink = MakeLink("www.example.com");
    m_nOpenResult = 2;
    pLink->OpenTarget();
    m_nOpenResult = 26;
    pLink->OpenTarget();
    m_nOpenResult = 1;
    pLink->OpenTarget();
    m_nOpenResult = 0;
    pLink->OpenTarget();
    EXPECT_FALSE(pLink->IsVisited());
    const std::vector<std::string> expected = {
        "controls_tests\tCan't open link:\\n\\nThe specified file was not found.",
        "controls_tests\tCan't open link:\\n\\nA sharing violation occurred. ",
        "controls_tests\tCan't open link:\\n\\nUnknown Error (1) occurred.",
        "controls_tests\tCan't open link:\\n\\nThe operating system is out\\nof memory or resources.",
    };
    EXPECT_EQ(MessageLines(), expected);

    // A success afterwards marks it visited; a later failure does not take that back.
    m_nOpenResult = 33;
    pLink->OpenTarget();
    m_nOpenResult = 32;
    pLink->OpenTarget();
    EXPECT_TRUE(pLink->IsVisited());
    EXPECT_EQ(MessageLines().back(),
              "controls_tests\tCan't open link:\\n\\nThe specified dynamic-link library was not found.");
}

TEST(LinkOpenerTest, EveryCodeOfTheTableHasItsText)
{
    EXPECT_EQ(CLinkOpener::ErrorText(3), "The specified path was not found.");
    EXPECT_EQ(CLinkOpener::ErrorText(5), "The operating system denied\naccess to the specified file.");
    EXPECT_EQ(CLinkOpener::ErrorText(8), "There was not enough memory to complete the operation.");
    EXPECT_EQ(CLinkOpener::ErrorText(11),
              "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).");
    EXPECT_EQ(CLinkOpener::ErrorText(27), "The filename association is\nincomplete or invalid.");
    EXPECT_EQ(CLinkOpener::ErrorText(28),
              "The DDE transaction could not\nbe completed because the request timed out.");
    EXPECT_EQ(CLinkOpener::ErrorText(29), "The DDE transaction failed.");
    EXPECT_EQ(CLinkOpener::ErrorText(30), "The DDE transaction could not\nbe completed because other DDE "
                                          "transactions\nwere being processed.");
    EXPECT_EQ(CLinkOpener::ErrorText(31),
              "There is no application associated\nwith the given filename extension.");
    EXPECT_EQ(CLinkOpener::ErrorText(-7), "Unknown Error (-7) occurred.");
}

TEST_F(HyperLink1Test, TheHandCursorIsClassWideAndKeepCursorDoesNotLoadIt)
{
    if (CHyperLink1::IsHandCursorLoaded())
        GTEST_SKIP() << "the hand was loaded by an earlier test in this process";
    auto* pKeep = new CHyperLink1(m_pDialog.get());
    pKeep->setText("keep");
    ASSERT_TRUE(pKeep->AlterLinkStyle(0, CHyperLink1::LinkKeepCursor, CHyperLink1::EApply::Later));
    pKeep->Attach();
    EXPECT_FALSE(CHyperLink1::IsHandCursorLoaded());
    EXPECT_EQ(pKeep->cursor().shape(), Qt::ArrowCursor);

    CHyperLink1* pLink = MakeLink("www.example.com");
    EXPECT_TRUE(CHyperLink1::IsHandCursorLoaded());
    EXPECT_EQ(pLink->cursor().shape(), Qt::PointingHandCursor);
    // Once loaded, it serves every link, also the one that did not load it.
    pKeep->setGeometry(20, 100, 100, 20);
    MoveMouse(pKeep, QPoint(2, 2));
    EXPECT_EQ(pKeep->cursor().shape(), Qt::PointingHandCursor);
}

} // namespace
