#include "sender/controls/BalloonTip.h"

#include "resources/DialogTables.h"
#include "tests/controls/ControlsTestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <gtest/gtest.h>
#include <vector>

namespace
{

const QColor RED(255, 0, 0);
constexpr const char* LONG_TIP =
    "Send the fax right now, and an email about the fax status will be returned soon";

TEST(BalloonGeometryTest, TheStandardSizeGivesTheKnownBodyPointerAndTextRectangle)
{
    const CBalloonGeometry geometry(QRect(0, 0, 180, 80));
    EXPECT_EQ(geometry.Body(), (CBalloonGeometry::SEdges{10, 0, 180, 80}));
    EXPECT_EQ(geometry.Pointer(), QPolygon({QPoint(0, 30), QPoint(15, 35), QPoint(15, 45)}));
    EXPECT_EQ(geometry.TextRect(), (CBalloonGeometry::SEdges{35, 12, 155, 68}));
    EXPECT_EQ(geometry.TextRect().ToRect().width(), 120);

    const QRegion region = geometry.Region();
    EXPECT_TRUE(region.contains(QPoint(95, 40)));  // the body's centre
    EXPECT_TRUE(region.contains(QPoint(11, 40)));  // its left end
    EXPECT_TRUE(region.contains(QPoint(178, 40))); // its right end
    EXPECT_TRUE(region.contains(QPoint(95, 1)));   // its top
    EXPECT_TRUE(region.contains(QPoint(4, 33)));   // the pointer, left of the body
    EXPECT_FALSE(region.contains(QPoint(180, 40)));
    EXPECT_FALSE(region.contains(QPoint(4, 40))); // below the pointer
    for (const QPoint& ptCorner :
         {QPoint(0, 0), QPoint(179, 0), QPoint(0, 79), QPoint(179, 79), QPoint(12, 2)})
        EXPECT_FALSE(region.contains(ptCorner)) << ptCorner.x() << "," << ptCorner.y();
}

TEST(BalloonGeometryTest, OtherSizesAndNoRoomAtAll)
{
    const CBalloonGeometry geometry(QRect(0, 0, 210, 101));
    // W = 200, H = 101: a = 70, b = 35 (truncated); W/2 = 100, H/2 = 50.
    EXPECT_EQ(geometry.TextRect(), (CBalloonGeometry::SEdges{40, 15, 180, 85}));
    EXPECT_EQ(geometry.Pointer(), QPolygon({QPoint(0, 40), QPoint(15, 45), QPoint(15, 55)}));
    EXPECT_TRUE(CBalloonGeometry(QRect(0, 0, 10, 80)).Region().isEmpty());
}

TEST(BalloonGeometryTest, ABalloonGrowsInProportionOnlyAsFarAsItsTextNeeds)
{
    const QSize szDefault(180, 80);
    std::vector<QRect> aTried;
    auto atLeast60High = [&](const QRect& rcText)
    {
        aTried.push_back(rcText);
        return rcText.height() >= 60;
    };
    // At 85 high the text rectangle is 60 high (b = 30); at 84 it is 58. The width grows by
    // 9 pixels for every 4 of height: 191 x 85.
    EXPECT_EQ(CBalloonGeometry::SizeToHold(szDefault, atLeast60High), QSize(191, 85));
    ASSERT_EQ(aTried.size(), 6u);
    EXPECT_EQ(aTried.front(), QRect(35, 12, 120, 56));
    EXPECT_EQ(aTried.back(), CBalloonGeometry(QRect(0, 0, 191, 85)).TextRect().ToRect());

    EXPECT_EQ(CBalloonGeometry::SizeToHold(szDefault, [](const QRect&) { return true; }), szDefault);
    // A text that fits nowhere gets the largest balloon instead of an endless search.
    EXPECT_EQ(CBalloonGeometry::SizeToHold(szDefault, [](const QRect&) { return false; }), QSize(720, 320));
}

TEST(BalloonGeometryTest, TheFrameIsTwoPixelsWideAtTheSidesAndOneHighAtTopAndBottom)
{
    const QRegion frame = CBalloonGeometry::FrameOf(QRegion(0, 0, 10, 10), 2, 1);
    EXPECT_TRUE(frame.contains(QPoint(0, 5)));
    EXPECT_TRUE(frame.contains(QPoint(1, 5)));
    EXPECT_FALSE(frame.contains(QPoint(2, 5)));
    EXPECT_TRUE(frame.contains(QPoint(8, 5)));
    EXPECT_TRUE(frame.contains(QPoint(5, 0)));
    EXPECT_FALSE(frame.contains(QPoint(5, 1)));
    EXPECT_TRUE(frame.contains(QPoint(5, 9)));
    int nArea = 0;
    for (const QRect& rc : frame)
        nArea += rc.width() * rc.height();
    EXPECT_EQ(nArea, 100 - 6 * 8);
}

TEST(BalloonTipStateTest, TheFirstRegistrationStaysAndColourZeroTakesTheCurrentColour)
{
    CBalloonTipState state;
    int control1 = 0;
    int control2 = 0;
    int control3 = 0;
    state.AddTip(&control1, &control1, "first", RED);
    state.AddTip(&control1, &control1, "second", QColor(0, 255, 0));
    ASSERT_NE(state.FindTip(&control1), nullptr);
    EXPECT_EQ(state.FindTip(&control1)->m_strText, "first");
    EXPECT_EQ(state.FindTip(&control1)->m_colour, RED);

    state.AddTip(&control2, &control2, "black", QColor(0, 0, 0));
    EXPECT_EQ(state.FindTip(&control2)->m_colour, QColor(0, 0, 0));

    // After a red balloon has been shown, a colour of 0 means red.
    EXPECT_EQ(state.MouseMove(true, &control1, &control1), CBalloonTipState::EAction::Show);
    state.AddTip(&control3, &control3, "after", QColor(0, 0, 0));
    EXPECT_EQ(state.FindTip(&control3)->m_colour, RED);
}

// A text drawn in the balloon's colours, laid out in lines of at most nWidth pixels from the
// top (as the balloon lays out a text that does not fit on one line), without any clip.
QImage WholeText(const QFont& font, const QString& strText, int nWidth, const QColor& colour)
{
    QImage image(nWidth, 1000, QImage::Format_RGB32);
    image.fill(CBalloonTip::FillColour());
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(colour);
    painter.drawText(image.rect(), Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, strText);
    painter.end();
    return image;
}

class BalloonTipTest : public testing::Test, public CControlsTestBase
{
protected:
    void SetUp() override
    {
        m_pFirst = new QPushButton("First", m_pDialog.get());
        m_pFirst->setGeometry(10, 10, 100, 30);
        m_pSecond = new QPushButton("Second", m_pDialog.get());
        m_pSecond->setGeometry(10, 60, 100, 30);
        m_pPlain = new QLabel("no tip", m_pDialog.get());
        m_pPlain->setGeometry(10, 110, 100, 30);
        m_pCombo = new QComboBox(m_pDialog.get());
        m_pCombo->setEditable(true);
        m_pCombo->setGeometry(10, 160, 150, 30);
        ASSERT_TRUE(m_tip.CreateBalloon(m_pDialog.get()));
        m_tip.AddControlTip(m_pFirst, "First tip", RED);
        m_tip.AddControlTip(m_pSecond, LONG_TIP, QColor(0, 0, 255));
        m_tip.AddControlTip(m_pCombo, "Combo tip", RED);
        ShowDialog();
    }

    QPoint Global(QWidget* pWidget, QPoint pt) const { return pWidget->mapToGlobal(pt); }

    QPushButton* m_pFirst = nullptr;
    QPushButton* m_pSecond = nullptr;
    QLabel* m_pPlain = nullptr;
    QComboBox* m_pCombo = nullptr;
    CBalloonTip m_tip;
};

TEST_F(BalloonTipTest, TheWindowIsShapedAndItsShapeFollowsItsSize)
{
    EXPECT_TRUE(m_tip.HasWindow());
    EXPECT_FALSE(m_tip.isVisible());
    EXPECT_EQ(m_tip.size(), QSize(180, 80));
    EXPECT_EQ(m_tip.mask(), CBalloonGeometry(QRect(0, 0, 180, 80)).Region());
    EXPECT_TRUE(m_tip.windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));

    MoveMouse(m_pFirst, QPoint(20, 10));
    ASSERT_TRUE(m_tip.isVisible());
    m_tip.resize(240, 100);
    EXPECT_EQ(m_tip.mask(), CBalloonGeometry(QRect(0, 0, 240, 100)).Region());
    EXPECT_EQ(m_tip.Geometry().TextRect().ToRect(),
              CBalloonGeometry(QRect(0, 0, 240, 100)).TextRect().ToRect());
}

TEST_F(BalloonTipTest, TheFontIsTheSerifWithACellOfFourteenPixels)
{
    const QFontInfo info(m_tip.BalloonFont());
    EXPECT_EQ(info.family(), "Liberation Serif");
    const QFontMetrics metrics(m_tip.BalloonFont());
    EXPECT_GE(metrics.height(), 13);
    EXPECT_LE(metrics.height(), 15);
}

TEST_F(BalloonTipTest, AMoveOntoARegisteredControlShowsItsTipAtTheMouseUntilTheMouseLeaves)
{
    MoveMouse(m_pFirst, QPoint(20, 10));
    ASSERT_TRUE(m_tip.isVisible());
    EXPECT_TRUE(m_tip.IsShowing());
    EXPECT_EQ(m_tip.pos(), Global(m_pFirst, QPoint(20, 10)));
    EXPECT_EQ(m_tip.CurrentControl(), m_pFirst);
    EXPECT_EQ(m_tip.CurrentText(), "First tip");
    EXPECT_EQ(m_tip.TextColour(), RED);
    EXPECT_TRUE(m_pDialog->isActiveWindow()); // the balloon took nothing from the dialog

    // It stays where it first appeared.
    MoveMouse(m_pFirst, QPoint(25, 12));
    EXPECT_TRUE(m_tip.isVisible());
    EXPECT_EQ(m_tip.pos(), Global(m_pFirst, QPoint(20, 10)));

    MoveMouse(m_pPlain, QPoint(5, 5));
    EXPECT_FALSE(m_tip.isVisible());
    EXPECT_FALSE(m_tip.IsShowing());
    MoveMouse(m_pPlain, QPoint(6, 6));
    EXPECT_FALSE(m_tip.isVisible());
}

TEST_F(BalloonTipTest, FromOneControlStraightOntoAnotherTheFirstMoveHidesAndTheNextShows)
{
    MoveMouse(m_pFirst, QPoint(20, 10));
    ASSERT_TRUE(m_tip.isVisible());
    MoveMouse(m_pSecond, QPoint(20, 5));
    EXPECT_FALSE(m_tip.isVisible());
    MoveMouse(m_pSecond, QPoint(22, 7));
    ASSERT_TRUE(m_tip.isVisible());
    EXPECT_EQ(m_tip.pos(), Global(m_pSecond, QPoint(22, 7)));
    EXPECT_EQ(m_tip.CurrentText(), LONG_TIP);
    EXPECT_EQ(m_tip.TextColour(), QColor(0, 0, 255));
}

TEST_F(BalloonTipTest, AClickOrAKeyHidesTheTipUntilTheMouseHasBeenElsewhere)
{
    MoveMouse(m_pFirst, QPoint(20, 10));
    ASSERT_TRUE(m_tip.isVisible());
    ClickMouse(m_pFirst, QPoint(20, 10));
    EXPECT_FALSE(m_tip.isVisible());
    EXPECT_TRUE(m_tip.IsShowing());
    MoveMouse(m_pFirst, QPoint(30, 10));
    EXPECT_FALSE(m_tip.isVisible());

    MoveMouse(m_pPlain, QPoint(5, 5));
    MoveMouse(m_pFirst, QPoint(30, 10));
    ASSERT_TRUE(m_tip.isVisible());

    PressKey(Qt::Key_A);
    EXPECT_FALSE(m_tip.isVisible());
    MoveMouse(m_pFirst, QPoint(31, 11));
    EXPECT_FALSE(m_tip.isVisible());

    // The right button hides it too.
    MoveMouse(m_pPlain, QPoint(5, 5));
    MoveMouse(m_pFirst, QPoint(30, 10));
    ASSERT_TRUE(m_tip.isVisible());
    PressMouse(m_pFirst, QPoint(30, 10), Qt::RightButton);
    EXPECT_FALSE(m_tip.isVisible());
}

TEST_F(BalloonTipTest, AMoveOverAChildInsideARegisteredControlShowsNothing)
{
    QLineEdit* pEdit = m_pCombo->lineEdit();
    ASSERT_NE(pEdit, nullptr);
    MoveMouse(pEdit, QPoint(10, 5));
    EXPECT_EQ(QApplication::widgetAt(Global(pEdit, QPoint(10, 5))), pEdit);
    EXPECT_FALSE(m_tip.isVisible());
}

TEST_F(BalloonTipTest, WithoutTheFocusInThisProgramMovesShowNothing)
{
    QApplication::setActiveWindow(nullptr);
    ASSERT_EQ(QApplication::activeWindow(), nullptr);
    MoveMouse(m_pFirst, QPoint(20, 10));
    EXPECT_FALSE(m_tip.isVisible());
    EXPECT_FALSE(m_tip.IsShowing());
    QApplication::setActiveWindow(m_pDialog.get()); // for the tests that follow in this process
}

TEST_F(BalloonTipTest, AShortTipIsOneCentredLineAndALongOneWrapsFromTheTop)
{
    const QRect rcText(35, 12, 120, 56);
    const QFontMetrics metrics(m_tip.BalloonFont());

    MoveMouse(m_pFirst, QPoint(20, 10));
    ASSERT_EQ(m_tip.CurrentText(), "First tip");
    EXPECT_EQ(m_tip.TextLayout(), CBalloonTip::ETextLayout::SingleLine);
    QImage image = m_tip.grab().toImage();
    EXPECT_EQ(image.pixelColor(60, 20), CBalloonTip::FillColour());
    EXPECT_EQ(image.pixelColor(10, 40), CBalloonTip::FrameColour());
    EXPECT_EQ(image.pixelColor(11, 40), CBalloonTip::FrameColour());
    EXPECT_EQ(image.pixelColor(12, 40), CBalloonTip::FillColour());
    EXPECT_EQ(image.pixelColor(95, 0), CBalloonTip::FrameColour());
    EXPECT_EQ(image.pixelColor(95, 1), CBalloonTip::FillColour());
    QRect rcInk = PixelsOfColour(image, RED, 100);
    ASSERT_FALSE(rcInk.isEmpty());
    EXPECT_TRUE(rcText.contains(rcInk));
    EXPECT_NEAR(rcInk.center().x(), 95, 3);
    EXPECT_NEAR(rcInk.center().y(), 40, 4);
    EXPECT_LT(rcInk.height(), metrics.height());

    MoveMouse(m_pPlain, QPoint(5, 5));
    MoveMouse(m_pSecond, QPoint(20, 10));
    ASSERT_EQ(m_tip.CurrentText(), LONG_TIP);
    EXPECT_EQ(m_tip.TextLayout(), CBalloonTip::ETextLayout::Wrapped);
    image = m_tip.grab().toImage();
    rcInk = PixelsOfColour(image, QColor(0, 0, 255), 100);
    ASSERT_FALSE(rcInk.isEmpty());
    const QRect rcWrapped = m_tip.Geometry().TextRect().ToRect();
    EXPECT_TRUE(rcWrapped.contains(rcInk));
    // The first line starts at the rectangle's top.
    EXPECT_LE(rcInk.top(), rcWrapped.top() + metrics.ascent() - metrics.capHeight() + 2);
    EXPECT_GT(rcInk.height(), 2 * metrics.height());
    EXPECT_GT(rcInk.width(), 100);
}

TEST_F(BalloonTipTest, EveryTipOfTheMainDialogShowsWholeInsideItsBalloon)
{
    std::vector<QPushButton*> aButtons;
    for (const resources::SControlTip& tip : resources::SEND_DIALOG_TIPS)
    {
        auto* pButton = new QPushButton(m_pDialog.get());
        // One under the other, all of them within the 300 pixels of the window.
        pButton->setGeometry(200, 10 + 26 * static_cast<int>(aButtons.size()), 100, 24);
        pButton->show();
        m_tip.AddControlTip(pButton, tip.m_pszText, RED);
        aButtons.push_back(pButton);
    }
    for (std::size_t i = 0; i < aButtons.size(); ++i)
    {
        const QString strTip = QString::fromUtf8(resources::SEND_DIALOG_TIPS[i].m_pszText);
        SCOPED_TRACE(strTip.toStdString());
        MoveMouse(m_pPlain, QPoint(5, 5));
        MoveMouse(aButtons[i], QPoint(10, 10));
        ASSERT_TRUE(m_tip.isVisible());
        ASSERT_EQ(QString::fromStdString(m_tip.CurrentText()), strTip);

        // Never smaller than the balloon's own size, and shaped by the same rules at any size.
        EXPECT_GE(m_tip.width(), CBalloonTip::DEFAULT_WIDTH);
        EXPECT_GE(m_tip.height(), CBalloonTip::DEFAULT_HEIGHT);
        EXPECT_EQ(m_tip.mask(), CBalloonGeometry(m_tip.rect()).Region());

        // All the ink of the whole text is there, inside the text rectangle: a line cut at the
        // rectangle's edge, or left out, leaves less ink, over less height, than the whole text.
        const QRect rcText = m_tip.Geometry().TextRect().ToRect();
        const QImage shown = m_tip.grab().toImage();
        const QImage whole = WholeText(m_tip.BalloonFont(), strTip, rcText.width(), RED);
        const QRect rcInk = PixelsOfColour(shown, RED, 100);
        ASSERT_FALSE(rcInk.isEmpty());
        EXPECT_TRUE(rcText.contains(rcInk));
        EXPECT_EQ(rcInk.size(), PixelsOfColour(whole, RED, 100).size());
        EXPECT_EQ(CountPixelsOfColour(shown, RED, 100), CountPixelsOfColour(whole, RED, 100));
    }
}

} // namespace
