#include "ColorStaticST.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>

QColor colorFromRef(COLORREF ref) {
    return QColor(ref & 0xFF, (ref >> 8) & 0xFF, (ref >> 16) & 0xFF);
}

static COLORREF refFromColor(const QColor& c) {
    return static_cast<COLORREF>(c.red()) | static_cast<COLORREF>(c.green()) << 8 |
           static_cast<COLORREF>(c.blue()) << 16;
}

CColorStaticST::CColorStaticST(QWidget* parent)
    : QLabel(parent),
      m_crText(refFromColor(QApplication::palette().color(QPalette::ButtonText))),
      m_crBk(refFromColor(QApplication::palette().color(QPalette::Button))) {
    setAlignment(Qt::AlignCenter);
}

void CColorStaticST::SetBkColor(COLORREF c) {
    m_crBk = c == kDefaultBk ? refFromColor(QApplication::palette().color(QPalette::Button)) : c;
    update();
}

void CColorStaticST::paintEvent(QPaintEvent*) {
    // Opaque background in the strip's own colour, text centred in the text colour.
    QPainter painter(this);
    painter.fillRect(rect(), colorFromRef(m_crBk));
    painter.setPen(colorFromRef(m_crText));
    painter.drawText(rect(), alignment(), text());
}

void CColorStaticST::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        emit clicked();
        event->accept();
        return;
    }
    QLabel::mousePressEvent(event);
}

void CColorStaticST::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        emit doubleClicked();
        event->accept();
        return;
    }
    QLabel::mouseDoubleClickEvent(event);
}
