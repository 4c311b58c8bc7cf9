#include "LostBadge.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cerrno>

#include "IdlePicture.h"
#include "PanelText.h"

extern "C" {
#include <libavutil/error.h>
}

namespace monvid {

LossReason lossReasonFor(int averror) {
    switch (averror) {
        case AVERROR(ECONNREFUSED):
            return LossReason::Refused;
        case AVERROR(ENOENT):
        case AVERROR(ENOTDIR):
        case AVERROR_HTTP_NOT_FOUND:
            return LossReason::NotFound;
        case AVERROR(ETIMEDOUT):
        case AVERROR(EAGAIN):
            return LossReason::TimedOut;
        case AVERROR_INVALIDDATA:
        case AVERROR_DECODER_NOT_FOUND:
        case AVERROR_DEMUXER_NOT_FOUND:
        case AVERROR_PROTOCOL_NOT_FOUND:
        case AVERROR_STREAM_NOT_FOUND:
        case AVERROR_PATCHWELCOME:
        case AVERROR(ENOSYS):
        case AVERROR(EISDIR):
            return LossReason::Unsupported;
        case AVERROR_EOF:
        case AVERROR(ECONNRESET):
        case AVERROR(EPIPE):
        case AVERROR(ECONNABORTED):
            return LossReason::Closed;
        case AVERROR(EACCES):
        case AVERROR(EPERM):
        case AVERROR_HTTP_UNAUTHORIZED:
        case AVERROR_HTTP_FORBIDDEN:
            return LossReason::Denied;
        case AVERROR(ENETUNREACH):
        case AVERROR(EHOSTUNREACH):
        case AVERROR(ENETDOWN):
            return LossReason::Unreachable;
        default:
            return LossReason::Other;
    }
}

std::string ffmpegErrorText(int averror) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof text);
    return text;
}

QString lossReasonText(LossReason reason, const std::string& detail) {
    switch (reason) {
        case LossReason::Refused:
            return QCoreApplication::translate("LostBadge", "连接被拒绝");
        case LossReason::NotFound:
            return QCoreApplication::translate("LostBadge", "未找到");
        case LossReason::TimedOut:
            return QCoreApplication::translate("LostBadge", "超时");
        case LossReason::Unsupported:
            return QCoreApplication::translate("LostBadge", "不支持");
        case LossReason::Closed:
            return QCoreApplication::translate("LostBadge", "连接已断开");
        case LossReason::Denied:
            return QCoreApplication::translate("LostBadge", "拒绝访问");
        case LossReason::Unreachable:
            return QCoreApplication::translate("LostBadge", "网络不可达");
        case LossReason::Other:
            break;
    }
    return QString::fromStdString(detail);
}

QString badgeTime(std::chrono::system_clock::time_point at,
                  std::chrono::system_clock::time_point now) {
    using namespace std::chrono;
    const QDateTime when =
        QDateTime::fromMSecsSinceEpoch(duration_cast<milliseconds>(at.time_since_epoch()).count());
    const QDateTime today =
        QDateTime::fromMSecsSinceEpoch(duration_cast<milliseconds>(now.time_since_epoch()).count());
    return when.toString(when.date() == today.date() ? "HH:mm:ss" : "yyyy-MM-dd HH:mm:ss");
}

QStringList badgeLines(const LinkLoss& loss, std::chrono::system_clock::time_point now) {
    if (!loss.lost)
        return {};
    QStringList lines;
    lines << QCoreApplication::translate("LostBadge", "自 %1 起无图像")
                 .arg(badgeTime(loss.since, now));
    lines << QCoreApplication::translate("LostBadge", "原因：%1")
                 .arg(lossReasonText(loss.reason, loss.detail));
    if (loss.retrying)
        lines << QCoreApplication::translate("LostBadge", "下次重试：%1")
                     .arg(badgeTime(loss.nextTry, now));
    return lines;
}

int drawLostBadge(QPainter& painter, const QRect& area, const QStringList& allLines) {
    if (allLines.isEmpty() || area.width() < 8 || area.height() < 8)
        return 0;
    painter.save();
    QFont font = painter.font();
    font.setPixelSize(std::clamp(area.height() / 20, 9, 22));
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const int lineHeight = metrics.height();
    const int margin = lineHeight / 2;
    const int bandTop = area.top() + area.height() * kIdlePictureClearTop / kIdlePictureHeight;
    const int bandHeight =
        area.height() * (kIdlePictureCameraTop - kIdlePictureClearTop) / kIdlePictureHeight;
    qsizetype count = allLines.size();
    while (count > 1 && count * lineHeight + 2 * margin > bandHeight)
        --count;
    const QStringList lines = allLines.mid(0, count);
    const int width = std::min(area.width() - 4, widestLine(font, lines) + 2 * margin);
    const int height =
        std::min(area.height() - 4, static_cast<int>(count) * lineHeight + 2 * margin);
    const int top = std::max(area.top() + 2, bandTop + (bandHeight - height) / 2);
    const QRect panel(area.left() + (area.width() - width) / 2, top, width, height);
    painter.setPen(QPen(QColor(255, 160, 0), 2));
    painter.setBrush(QColor(0, 0, 0, 200));
    painter.drawRect(panel);
    painter.setPen(QColor(255, 220, 160));
    QRect line(panel.left() + margin, panel.top() + margin, panel.width() - 2 * margin, lineHeight);
    for (const QString& text : lines) {
        painter.drawText(line, Qt::AlignHCenter | Qt::AlignVCenter,
                         fittedLine(font, text, line.width()));
        line.translate(0, lineHeight);
    }
    painter.restore();
    return static_cast<int>(count);
}

}  // namespace monvid
