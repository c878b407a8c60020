#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QVector>

// Where a window stands whose stored position is Pos, given the size of its
// frame and the height of its title bar: at Pos while any part of its title
// bar lies on one of the screens; otherwise at the position nearest to Pos
// that shows the whole frame on the screen nearest to it. A window whose
// title bar is on no screen could be neither moved nor closed.
QPoint ReachablePosition(QPoint Pos, QSize Frame, int TitleHeight, const QVector<QRect>& Screens);
