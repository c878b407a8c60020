#include "ui/WindowPlacement.h"

#include <algorithm>
#include <cstdint>

namespace {

// Squared distance between two rectangles; 0 where they meet.
int64_t Distance(const QRect& A, const QRect& B)
{
    const int64_t Dx = std::max<int64_t>({0, int64_t(B.left()) - A.right(), int64_t(A.left()) - B.right()});
    const int64_t Dy = std::max<int64_t>({0, int64_t(B.top()) - A.bottom(), int64_t(A.top()) - B.bottom()});
    return Dx * Dx + Dy * Dy;
}

} // namespace

QPoint ReachablePosition(QPoint Pos, QSize Frame, int TitleHeight, const QVector<QRect>& Screens)
{
    const QRect Title(Pos, QSize(std::max(Frame.width(), 1), std::max(TitleHeight, 1)));
    if (Screens.isEmpty())
        return Pos;
    for (const QRect& S : Screens)
        if (S.intersects(Title))
            return Pos;
    const QRect& Nearest = *std::min_element(Screens.begin(), Screens.end(), [&](const QRect& A, const QRect& B) {
        return Distance(A, Title) < Distance(B, Title);
    });
    // Whole on that screen where it fits; its top left corner on it where not.
    const int X = std::max(Nearest.left(), std::min(Pos.x(), Nearest.right() + 1 - Frame.width()));
    const int Y = std::max(Nearest.top(), std::min(Pos.y(), Nearest.bottom() + 1 - Frame.height()));
    return QPoint(X, Y);
}
