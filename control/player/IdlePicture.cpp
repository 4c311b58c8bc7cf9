#include "IdlePicture.h"

#include <QCoreApplication>
#include <QFont>
#include <QPainter>
#include <QPainterPath>

#include <map>

namespace monvid {

// A dark screen with the outline of a camera and the words "No video" in the control's
// language, drawn in colours of the 16-colour palette so that nothing is lost when the
// picture is reduced to it.
static QImage makeIdlePicture(const QString& words) {
    const QVector<QRgb> palette = {
        qRgb(0, 0, 0),       qRgb(16, 24, 40),    qRgb(24, 36, 60),    qRgb(32, 48, 80),
        qRgb(48, 64, 104),   qRgb(64, 84, 128),   qRgb(88, 108, 152),  qRgb(120, 136, 176),
        qRgb(152, 168, 200), qRgb(184, 196, 220), qRgb(216, 224, 236), qRgb(255, 255, 255),
        qRgb(0, 120, 215),   qRgb(40, 160, 230),  qRgb(200, 60, 60),   qRgb(120, 120, 120)};

    QImage canvas(kIdlePictureWidth, kIdlePictureHeight, QImage::Format_RGB32);
    canvas.fill(palette[1]);
    QPainter p(&canvas);
    p.setRenderHint(QPainter::Antialiasing, false);

    // A frame of darker bands.
    for (int i = 0; i < 6; ++i) {
        p.setPen(QColor(palette[2 + (i % 2)]));
        p.drawRect(i * 4, i * 4, kIdlePictureWidth - 1 - i * 8, kIdlePictureHeight - 1 - i * 8);
    }

    // Camera body and lens, below the clear band.
    const int cx = kIdlePictureWidth / 2, cy = kIdlePictureCameraTop + 50;
    p.setPen(QPen(QColor(palette[8]), 4));
    p.setBrush(QColor(palette[4]));
    p.drawRoundedRect(cx - 90, cy - 50, 150, 100, 12, 12);
    QPainterPath lens;
    lens.moveTo(cx + 60, cy - 20);
    lens.lineTo(cx + 110, cy - 45);
    lens.lineTo(cx + 110, cy + 45);
    lens.lineTo(cx + 60, cy + 20);
    lens.closeSubpath();
    p.setBrush(QColor(palette[5]));
    p.drawPath(lens);
    p.setBrush(QColor(palette[12]));
    p.setPen(QPen(QColor(palette[9]), 3));
    p.drawEllipse(QPoint(cx - 15, cy), 30, 30);
    p.setBrush(QColor(palette[14]));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPoint(cx - 70, cy - 32), 7, 7);

    QFont font("Sans Serif");
    font.setPixelSize(36);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(palette[10]));
    p.drawText(QRect(0, cy + 70, kIdlePictureWidth, 50), Qt::AlignCenter, words);
    p.end();

    QImage indexed = canvas.convertToFormat(QImage::Format_Indexed8, palette, Qt::ThresholdDither);
    indexed.setColorCount(16);
    return indexed;
}

namespace {
struct IdlePictures {
    QImage indexed;  // as saved
    QImage painted;  // the same in 32-bit colour
};

// One picture per language the control has spoken in this process.
const IdlePictures& idlePictures() {
    static std::map<QString, IdlePictures> pictures;
    const QString words = QCoreApplication::translate("IdlePicture", "无视频");
    auto it = pictures.find(words);
    if (it == pictures.end()) {
        QImage indexed = makeIdlePicture(words);
        QImage painted = indexed.convertToFormat(QImage::Format_RGB32);
        it = pictures.emplace(words, IdlePictures{std::move(indexed), std::move(painted)}).first;
    }
    return it->second;
}
}  // namespace

const QImage& idlePicture() {
    return idlePictures().indexed;
}

const QImage& idlePictureToPaint() {
    return idlePictures().painted;
}

}  // namespace monvid
