#pragma once

#include "sender/controls/LinkOpener.h"

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QWidget>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

// What the controls' tests share: a shown, active dialog window; an opener that records the
// targets instead of starting anything; and the message log the controls report into.
class CControlsTestBase
{
public:
    struct SOpenCall
    {
        std::string m_strTarget;
        CLinkOpener::EFallback m_eFallback;
    };

    CControlsTestBase();
    ~CControlsTestBase();

    // Shows the dialog and waits until it is the active window.
    void ShowDialog();
    // Simulated input through the window system, as the real mouse would deliver it.
    void MoveMouse(QWidget* pWidget, QPoint pt) const;
    void PressMouse(QWidget* pWidget, QPoint pt, Qt::MouseButton button = Qt::LeftButton);
    void ReleaseMouse(QWidget* pWidget, QPoint pt, Qt::MouseButton button = Qt::LeftButton);
    void ClickMouse(QWidget* pWidget, QPoint pt);
    void PressKey(Qt::Key key) const;

    [[nodiscard]] std::vector<std::string> MessageLines() const;

    std::unique_ptr<QWidget> m_pDialog;
    std::vector<SOpenCall> m_opened;
    int m_nOpenResult = 42; // what the recording opener reports (above 32: success)

private:
    std::filesystem::path m_log;
    Qt::MouseButtons m_pressed;
};

// The bounding box of the pixels of an image within nTolerance of a colour in every channel
// (empty when there are none); a tolerance lets antialiased text count by its strong pixels.
[[nodiscard]] QRect PixelsOfColour(const QImage& image, const QColor& colour, int nTolerance = 0);
// How many pixels of an image are within nTolerance of a colour in every channel.
[[nodiscard]] int CountPixelsOfColour(const QImage& image, const QColor& colour, int nTolerance = 0);
