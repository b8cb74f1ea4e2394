#include "tests/controls/ControlsTestSupport.h"

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QRect>
#include <QTest>
#include <QWindow>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace
{

QWindow* WindowOf(QWidget* pWidget, QPoint& pt)
{
    QWidget* pWindow = pWidget->window();
    pt = pWidget->mapTo(pWindow, pt);
    return pWindow->windowHandle();
}

} // namespace

CControlsTestBase::CControlsTestBase() : m_pDialog(std::make_unique<QWidget>())
{
    static int s_nCount = 0;
    m_log = std::filesystem::temp_directory_path() /
            ("controls-" + std::to_string(::getpid()) + "-" + std::to_string(++s_nCount) + ".log");
    std::filesystem::remove(m_log);
    ::setenv("VELLUM_MESSAGE_LOG", m_log.c_str(), 1);
    CLinkOpener::Replace(
        [this](const std::string& strTarget, CLinkOpener::EFallback eFallback)
        {
            m_opened.push_back({strTarget, eFallback});
            return m_nOpenResult;
        });
    m_pDialog->setGeometry(100, 100, 400, 300);
}

CControlsTestBase::~CControlsTestBase()
{
    // A button left pressed would turn the next test's moves into drags.
    for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton})
    {
        if ((m_pressed & button) != 0 && m_pDialog->windowHandle() != nullptr)
            QTest::mouseRelease(m_pDialog->windowHandle(), button, {},
                                QPoint(m_pDialog->width() - 1, m_pDialog->height() - 1));
    }
    m_pDialog.reset();
    CLinkOpener::Replace(nullptr);
    ::unsetenv("VELLUM_MESSAGE_LOG");
    std::filesystem::remove(m_log);
}

void CControlsTestBase::ShowDialog()
{
    m_pDialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_pDialog.get()));
    ASSERT_EQ(QApplication::activeWindow(), m_pDialog.get());
    // Qt drops a move to where the mouse already is; an earlier test may have left it at the
    // very point this one starts from. The dialog's far corner is a point no test uses.
    MoveMouse(m_pDialog.get(), QPoint(m_pDialog->width() - 1, m_pDialog->height() - 1));
}

void CControlsTestBase::MoveMouse(QWidget* pWidget, QPoint pt) const
{
    QWindow* pWindow = WindowOf(pWidget, pt);
    QTest::mouseMove(pWindow, pt);
}

void CControlsTestBase::PressMouse(QWidget* pWidget, QPoint pt, Qt::MouseButton button)
{
    QWindow* pWindow = WindowOf(pWidget, pt);
    QTest::mousePress(pWindow, button, {}, pt);
    m_pressed |= button;
}

void CControlsTestBase::ReleaseMouse(QWidget* pWidget, QPoint pt, Qt::MouseButton button)
{
    QWindow* pWindow = WindowOf(pWidget, pt);
    QTest::mouseRelease(pWindow, button, {}, pt);
    m_pressed &= ~Qt::MouseButtons(button);
}

void CControlsTestBase::ClickMouse(QWidget* pWidget, QPoint pt)
{
    PressMouse(pWidget, pt);
    ReleaseMouse(pWidget, pt);
}

void CControlsTestBase::PressKey(Qt::Key key) const
{
    QTest::keyClick(m_pDialog->windowHandle(), key);
}

std::vector<std::string> CControlsTestBase::MessageLines() const
{
    std::vector<std::string> lines;
    std::ifstream in(m_log);
    std::string strLine;
    while (std::getline(in, strLine))
        lines.push_back(strLine);
    return lines;
}

namespace
{

bool IsNear(const QColor& pixel, const QColor& colour, int nTolerance)
{
    return std::abs(pixel.red() - colour.red()) <= nTolerance &&
           std::abs(pixel.green() - colour.green()) <= nTolerance &&
           std::abs(pixel.blue() - colour.blue()) <= nTolerance;
}

} // namespace

QRect PixelsOfColour(const QImage& image, const QColor& colour, int nTolerance)
{
    QRect rcBox;
    for (int y = 0; y < image.height(); ++y)
    {
        for (int x = 0; x < image.width(); ++x)
        {
            if (IsNear(image.pixelColor(x, y), colour, nTolerance))
                rcBox |= QRect(x, y, 1, 1);
        }
    }
    return rcBox;
}

int CountPixelsOfColour(const QImage& image, const QColor& colour, int nTolerance)
{
    int nCount = 0;
    for (int y = 0; y < image.height(); ++y)
    {
        for (int x = 0; x < image.width(); ++x)
        {
            if (IsNear(image.pixelColor(x, y), colour, nTolerance))
                ++nCount;
        }
    }
    return nCount;
}
