#include "HealthOverlay.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

#include "PanelText.h"

namespace monvid {

HealthSample sampleCounters(const PlayCounters& c, std::chrono::steady_clock::time_point at) {
    HealthSample s;
    s.at = at;
    s.received = c.received.load(std::memory_order_relaxed);
    s.shown = c.shown.load(std::memory_order_relaxed);
    s.bytesRead = c.bytesRead.load(std::memory_order_relaxed);
    s.droppedLate = c.droppedLate.load(std::memory_order_relaxed);
    s.droppedSize = c.droppedSize.load(std::memory_order_relaxed);
    s.droppedHidden = c.droppedHidden.load(std::memory_order_relaxed);
    s.droppedBusy = c.droppedBusy.load(std::memory_order_relaxed);
    s.latencyUs = c.latencyUs.load(std::memory_order_relaxed);
    return s;
}

HealthFigures healthFigures(const HealthSample& earlier, const HealthSample& later,
                            const StreamFacts& facts) {
    HealthFigures f;
    const double seconds = std::chrono::duration<double>(later.at - earlier.at).count();
    auto rate = [&](std::uint64_t a, std::uint64_t b) {
        return seconds > 0 && b >= a ? static_cast<double>(b - a) / seconds : 0.0;
    };
    f.shownPerSecond = rate(earlier.shown, later.shown);
    f.receivedPerSecond = rate(earlier.received, later.received);
    f.kilobitsPerSecond = rate(earlier.bytesRead, later.bytesRead) * 8 / 1000;
    f.droppedLate = later.droppedLate;
    f.droppedSize = later.droppedSize;
    f.droppedHidden = later.droppedHidden;
    f.droppedBusy = later.droppedBusy;
    f.latencyMs = facts.live && later.latencyUs >= 0 ? later.latencyUs / 1000 : -1;
    f.facts = facts;
    return f;
}

QStringList healthLines(const HealthFigures& f) {
    QStringList lines;
    lines << QCoreApplication::translate("HealthOverlay", "显示 %1 帧/秒，接收 %2 帧/秒")
                 .arg(f.shownPerSecond, 0, 'f', 1)
                 .arg(f.receivedPerSecond, 0, 'f', 1);
    lines << QCoreApplication::translate("HealthOverlay", "码率 %1 kbit/s")
                 .arg(f.kilobitsPerSecond, 0, 'f', 0);
    lines << QCoreApplication::translate("HealthOverlay", "丢弃：迟到 %1，尺寸 %2，隐藏 %3，忙 %4")
                 .arg(f.droppedLate)
                 .arg(f.droppedSize)
                 .arg(f.droppedHidden)
                 .arg(f.droppedBusy);
    lines << (f.latencyMs >= 0
                  ? QCoreApplication::translate("HealthOverlay", "延迟 %1 ms").arg(f.latencyMs)
                  : QCoreApplication::translate("HealthOverlay", "延迟 —"));
    if (!f.facts.codec.empty())
        lines << QString("%1 %2×%3")
                     .arg(QString::fromStdString(f.facts.codec))
                     .arg(f.facts.width)
                     .arg(f.facts.height);
    return lines;
}

void drawHealthOverlay(QPainter& painter, const QRect& area, const QStringList& lines) {
    if (lines.isEmpty() || area.width() < 8 || area.height() < 8)
        return;
    painter.save();
    QFont font = painter.font();
    font.setPixelSize(std::clamp(area.height() / 18, 9, 16));
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const int lineHeight = metrics.height();
    const int margin = 4;
    const QRect panel(
        area.left() + 2, area.top() + 2,
        std::min(area.width() - 4, widestLine(font, lines) + 2 * margin),
        std::min(area.height() - 4, static_cast<int>(lines.size()) * lineHeight + 2 * margin));
    painter.fillRect(panel, QColor(0, 0, 0, 160));
    painter.setPen(QColor(160, 255, 160));
    QRect line(panel.left() + margin, panel.top() + margin, panel.width() - 2 * margin, lineHeight);
    for (const QString& text : lines) {
        if (line.bottom() > panel.bottom())
            break;
        painter.drawText(line, Qt::AlignLeft | Qt::AlignVCenter,
                         fittedLine(font, text, line.width()));
        line.translate(0, lineHeight);
    }
    painter.restore();
}

}  // namespace monvid
