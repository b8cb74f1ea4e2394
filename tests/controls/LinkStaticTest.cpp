#include "sender/controls/LinkStatic.h"

#include "tests/controls/ControlsTestSupport.h"

#include <QFontMetrics>
#include <QPushButton>
#include <gtest/gtest.h>

namespace
{

constexpr const char* MAIL_TARGET = "mailto: fax@example.com";

class LinkStaticTest : public testing::Test, public CControlsTestBase
{
protected:
    CLinkStatic* MakeLink()
    {
        auto* pLink = new CLinkStatic(m_pDialog.get());
        pLink->setText("fax@example.com");
        pLink->setGeometry(30, 40, 250, 25);
        pLink->Attach();
        pLink->SetTarget(MAIL_TARGET);
        m_pButton = new QPushButton("Other", m_pDialog.get());
        m_pButton->setGeometry(20, 200, 80, 30);
        ShowDialog();
        return pLink;
    }

    QPushButton* m_pButton = nullptr;
};

TEST_F(LinkStaticTest, AttachingUnderlinesFitsAndShowsTheTargetAsTheToolTip)
{
    CLinkStatic* pLink = MakeLink();
    EXPECT_TRUE(pLink->font().underline());
    const QFontMetrics metrics(pLink->font());
    EXPECT_EQ(pLink->geometry(),
              QRect(30, 40, metrics.horizontalAdvance("fax@example.com"), metrics.height()));
    EXPECT_EQ(pLink->toolTip(), MAIL_TARGET);
    EXPECT_EQ(pLink->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(pLink->CurrentColour(), QColor(0, 0, 238));

    pLink->SetUnderlined(CLinkStatic::EUnderline::Off);
    EXPECT_FALSE(pLink->font().underline());
    EXPECT_FALSE(pLink->IsUnderlined());
}

TEST_F(LinkStaticTest, AClickOpensAndTheVisitedStateFollowsTheLastAttempt)
{
    CLinkStatic* pLink = MakeLink();
    PressMouse(pLink, QPoint(2, 2));
    ASSERT_EQ(m_opened.size(), 1u);
    EXPECT_EQ(m_opened[0].m_strTarget, MAIL_TARGET);
    EXPECT_TRUE(pLink->IsVisited());
    ReleaseMouse(pLink, QPoint(2, 2));
    EXPECT_EQ(m_opened.size(), 1u);
    MoveMouse(m_pButton, QPoint(2, 2)); // end the hover the click brought
    EXPECT_EQ(pLink->CurrentColour(), QColor(85, 26, 139));

    m_nOpenResult = 31;
    PressMouse(pLink, QPoint(2, 2));
    EXPECT_FALSE(pLink->IsVisited());
    const std::vector<std::string> expected = {
        "controls_tests\tUnable to open hyperlink:\\n\\nThere is no application associated\\nwith the given "
        "filename extension."};
    EXPECT_EQ(MessageLines(), expected);
}

TEST_F(LinkStaticTest, HoverShowsTheHighlightColourWhileTheMouseIsHeld)
{
    CLinkStatic* pLink = MakeLink();
    MoveMouse(pLink, QPoint(2, 2));
    EXPECT_TRUE(pLink->IsHovering());
    EXPECT_EQ(QWidget::mouseGrabber(), pLink);
    EXPECT_EQ(pLink->CurrentColour(), pLink->palette().color(QPalette::Highlight));
    MoveMouse(m_pButton, QPoint(2, 2));
    EXPECT_FALSE(pLink->IsHovering());
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    EXPECT_EQ(pLink->CurrentColour(), QColor(0, 0, 238));
}

} // namespace
