#pragma once

#include <QPolygon>
#include <QRect>
#include <QRegion>
#include <QSize>
#include <functional>

// The shape of the balloon tip for a window of a given client size: an elliptic body that leaves
// room on the left for a small pointer triangle, and the largest text rectangle that fits in the
// ellipse. Edges are given as left/top inclusive, right/bottom exclusive, as the region calls
// that build the shape take them; at 180 x 80 the body is the ellipse in (10, 0, 180, 80), the
// pointer the triangle (0, 30), (15, 35), (15, 45) and the text rectangle (35, 12, 155, 68).
class CBalloonGeometry
{
public:
    // Room kept on the left of the body for the pointer.
    static constexpr int POINTER_ROOM = 10;
    // The pointer is 15 pixels long and 10 high where it joins the body.
    static constexpr int POINTER_LENGTH = 15;
    static constexpr int POINTER_RISE = 10;
    static constexpr int POINTER_HALF_BASE = 5;
    // 1/sqrt(2): a rectangle with these half-sizes of the ellipse's half-axes lies inside it.
    static constexpr double INSCRIBED_RATIO = 0.7071085623775818;
    // A balloon grows for a long text up to this many times its size in each direction.
    static constexpr int MAX_GROWTH = 4;

    struct SEdges
    {
        int m_nLeft = 0;
        int m_nTop = 0;
        int m_nRight = 0;
        int m_nBottom = 0;

        [[nodiscard]] QRect ToRect() const
        {
            return QRect(m_nLeft, m_nTop, m_nRight - m_nLeft, m_nBottom - m_nTop);
        }
        bool operator==(const SEdges&) const = default;
    };

    explicit CBalloonGeometry(const QRect& rcClient);

    [[nodiscard]] const SEdges& Body() const { return m_body; }
    [[nodiscard]] const SEdges& TextRect() const { return m_text; }
    [[nodiscard]] const QPolygon& Pointer() const { return m_pointer; }

    // The window's shape: the body's ellipse joined with the pointer; empty when there is no room.
    [[nodiscard]] QRegion Region() const;

    // The size of a balloon that holds a text: szMinimum when its text rectangle does, or else
    // the first size grown from it in proportion, a pixel of height at a time, whose text
    // rectangle does (the largest size tried when none does). holds tells whether the text,
    // laid out as it is painted, lies whole in a text rectangle.
    [[nodiscard]] static QSize SizeToHold(const QSize& szMinimum,
                                          const std::function<bool(const QRect&)>& holds);

    // The outline of a region: the pixels of the region less than nWidth pixels from its left or
    // right edge or less than nHeight from its top or bottom edge.
    [[nodiscard]] static QRegion FrameOf(const QRegion& region, int nWidth, int nHeight);

private:
    SEdges m_body;
    SEdges m_text;
    QPolygon m_pointer;
};
