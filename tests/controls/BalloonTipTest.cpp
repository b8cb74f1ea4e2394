#include "sender/controls/BalloonTip.h"

#include "ControlsTestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

namespace
{

const QColor kRed(255, 0, 0);
constexpr const char* kLongTip =
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
    state.AddTip(&control1, &control1, "first", kRed);
    state.AddTip(&control1, &control1, "second", QColor(0, 255, 0));
    ASSERT_NE(state.FindTip(&control1), nullptr);
    EXPECT_EQ(state.FindTip(&control1)->strText, "first");
    EXPECT_EQ(state.FindTip(&control1)->colour, kRed);

    state.AddTip(&control2, &control2, "black", QColor(0, 0, 0));
    EXPECT_EQ(state.FindTip(&control2)->colour, QColor(0, 0, 0));

    // After a red balloon has been shown, a colour of 0 means red.
    EXPECT_EQ(state.MouseMove(true, &control1, &control1), CBalloonTipState::EAction::Show);
    state.AddTip(&control3, &control3, "after", QColor(0, 0, 0));
    EXPECT_EQ(state.FindTip(&control3)->colour, kRed);
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
        m_tip.AddControlTip(m_pFirst, "First tip", kRed);
        m_tip.AddControlTip(m_pSecond, kLongTip, QColor(0, 0, 255));
        m_tip.AddControlTip(m_pCombo, "Combo tip", kRed);
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
    EXPECT_EQ(m_tip.TextColour(), kRed);
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
    EXPECT_EQ(m_tip.CurrentText(), kLongTip);
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
    QRect rcInk = PixelsOfColour(image, kRed, 100);
    ASSERT_FALSE(rcInk.isEmpty());
    EXPECT_TRUE(rcText.contains(rcInk));
    EXPECT_NEAR(rcInk.center().x(), 95, 3);
    EXPECT_NEAR(rcInk.center().y(), 40, 4);
    EXPECT_LT(rcInk.height(), metrics.height());

    MoveMouse(m_pPlain, QPoint(5, 5));
    MoveMouse(m_pSecond, QPoint(20, 10));
    ASSERT_EQ(m_tip.CurrentText(), kLongTip);
    EXPECT_EQ(m_tip.TextLayout(), CBalloonTip::ETextLayout::Wrapped);
    image = m_tip.grab().toImage();
    rcInk = PixelsOfColour(image, QColor(0, 0, 255), 100);
    ASSERT_FALSE(rcInk.isEmpty());
    EXPECT_TRUE(rcText.contains(rcInk));
    // The first line starts at the rectangle's top; the lines fill it and are cut at its bottom.
    EXPECT_LE(rcInk.top(), 12 + metrics.ascent() - metrics.capHeight() + 2);
    EXPECT_GT(rcInk.height(), 2 * metrics.height());
    EXPECT_GT(rcInk.width(), 100);
}

} // namespace
