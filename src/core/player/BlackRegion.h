#pragma once

// Finds the black bars of a letterboxed or pillarboxed picture. 25 lines are
// sampled across the picture in each direction; each is walked in from the
// edge until the brightness rises clearly above its running mean, and the
// lines vote on where the edge lies. An edge counts only when every sample
// line is black (each colour channel dark) between it and the picture's side.

#include <QImage>
#include <QRect>

// The part of `picture` inside its bars, in pixels with the origin at the
// bottom left. The whole picture when no bars are found, when the found edges
// cross, or when it has 25 rows or columns or fewer; an empty rectangle for a
// null picture.
QRect extentByDividingBlackRegion(const QImage& picture);

// The left edge (`fromStart`) or the right edge of the picture's content, in
// pixels from the left; 0 or the width when the rows do not agree.
int dividingLengthHorizontal(const QImage& bitmap, bool fromStart);

// The top edge (`fromStart`) or the bottom edge, in rows counted from the top;
// 0 or the height when the columns do not agree.
int dividingLengthVertical(const QImage& bitmap, bool fromStart);
