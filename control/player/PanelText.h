// Lines of text in the panels drawn over a video window (the lost badge, the health overlay):
// a panel sized for its widest line shows that line whole. Widths are measured as drawn, in
// fractions of a pixel, and rounded up; a line is elided only when the panel is narrower
// than the line, as in a small cell.
#pragma once

#include <QFont>
#include <QFontMetricsF>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace monvid {

// Pixels the widest of `lines` takes in `font`.
inline int widestLine(const QFont& font, const QStringList& lines) {
    const QFontMetricsF metrics(font);
    qreal widest = 0;
    for (const QString& line : lines)
        widest = std::max(widest, metrics.horizontalAdvance(line));
    return static_cast<int>(std::ceil(widest));
}

// `text` as it fits in `width` pixels: whole when it fits, else cut with an ellipsis.
inline QString fittedLine(const QFont& font, const QString& text, int width) {
    const QFontMetricsF metrics(font);
    if (metrics.horizontalAdvance(text) <= width)
        return text;
    return metrics.elidedText(text, Qt::ElideRight, width);
}

}  // namespace monvid
