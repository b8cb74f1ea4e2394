#pragma once

#include <QRect>
#include <QSize>
#include <Qt>

// The rectangle a label takes when it is fitted to its text: vertically centred labels shrink
// (or grow) evenly from top and bottom, the others keep their top; horizontally centred labels
// shrink evenly from both sides, right-aligned ones keep their right edge, the others their left.
// Halves are rounded towards zero, as the labels were laid out with integer arithmetic.
[[nodiscard]] QRect FitRectToText(const QRect& rcControl, const QSize& sizeText, Qt::Alignment alignment);
