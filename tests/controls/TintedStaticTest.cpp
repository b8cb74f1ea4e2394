#include "sender/controls/TintedStatic.h"

#include "tests/controls/ControlsTestSupport.h"

#include <QFontDatabase>
#include <gtest/gtest.h>

namespace
{

class TintedStaticTest : public testing::Test, public CControlsTestBase
{
};

TEST_F(TintedStaticTest, TextAndBackgroundTintsArePainted)
{
    auto* pLabel = new CTintedStatic(m_pDialog.get());
    pLabel->setText("Visit our web site for more");
    pLabel->setGeometry(10, 10, 250, 20);
    pLabel->SetTextTint(QColor(0, 0, 255));
    pLabel->SetBackTint(QColor(255, 255, 255));
    ShowDialog();

    EXPECT_EQ(pLabel->TintFont(), QFontDatabase::systemFont(QFontDatabase::GeneralFont));
    const QImage image = pLabel->grab().toImage();
    EXPECT_EQ(image.pixelColor(image.width() - 1, image.height() - 1), QColor(255, 255, 255));
    const QRect rcText = PixelsOfColour(image, QColor(0, 0, 255), 60);
    EXPECT_FALSE(rcText.isEmpty());
    EXPECT_LT(rcText.left(), 5);
}

TEST_F(TintedStaticTest, UntilABackgroundIsSetTheDialogShowsThrough)
{
    QPalette palette = m_pDialog->palette();
    palette.setColor(QPalette::Window, QColor(10, 200, 30));
    m_pDialog->setPalette(palette);
    m_pDialog->setAutoFillBackground(true);
    auto* pLabel = new CTintedStatic(m_pDialog.get());
    pLabel->setText("label");
    pLabel->setGeometry(10, 10, 200, 20);
    ShowDialog();
    EXPECT_EQ(pLabel->BackTint(), QColor(10, 200, 30));
    const QImage image = m_pDialog->grab(pLabel->geometry()).toImage();
    EXPECT_EQ(image.pixelColor(image.width() - 1, image.height() - 1), QColor(10, 200, 30));
}

TEST_F(TintedStaticTest, AFramedPaneKeepsItsFrameAroundTheBackground)
{
    auto* pPane = new CTintedStatic(m_pDialog.get());
    pPane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    pPane->setGeometry(10, 10, 100, 120);
    pPane->SetBackTint(QColor(255, 255, 255));
    ShowDialog();
    const QImage image = pPane->grab().toImage();
    EXPECT_EQ(image.pixelColor(50, 60), QColor(255, 255, 255));
    EXPECT_NE(image.pixelColor(0, 0), QColor(255, 255, 255));
}

TEST_F(TintedStaticTest, AGroupBoxShowsItsTitleInTheTextTint)
{
    auto* pBox = new CTintedStatic(m_pDialog.get(), CTintedStatic::EKind::GroupBox);
    pBox->setText("Free More!");
    pBox->setGeometry(10, 10, 200, 60);
    pBox->SetTextTint(QColor(0, 0, 255));
    ShowDialog();
    const QRect rcTitle = PixelsOfColour(pBox->grab().toImage(), QColor(0, 0, 255), 60);
    ASSERT_FALSE(rcTitle.isEmpty());
    EXPECT_LT(rcTitle.bottom(), 30); // the title sits on the top line
}

TEST_F(TintedStaticTest, AClickHandsTheTextToTheDesktopWithoutFallbackAndAnEmptyLabelOpensNothing)
{
    auto* pLabel = new CTintedStatic(m_pDialog.get());
    pLabel->setText("https://www.example.com");
    pLabel->setGeometry(10, 10, 250, 20);
    auto* pEmpty = new CTintedStatic(m_pDialog.get());
    pEmpty->setGeometry(10, 50, 100, 100);
    ShowDialog();

    m_nOpenResult = 2; // not openable: nothing is reported
    ClickMouse(pLabel, QPoint(3, 3));
    ClickMouse(pEmpty, QPoint(3, 3));
    ASSERT_EQ(m_opened.size(), 1u);
    EXPECT_EQ(m_opened[0].m_strTarget, "https://www.example.com");
    EXPECT_EQ(m_opened[0].m_eFallback, CLinkOpener::EFallback::None);
    EXPECT_TRUE(MessageLines().empty());
}

} // namespace
