#include "AboutDlg.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

QIcon vidwallIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x78, 0x78, 0x78));
    p.drawRoundedRect(1, 1, 30, 30, 4, 4);
    p.setBrush(QColor(0x30, 0x90, 0xE0));
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 2; ++c)
            p.drawRect(4 + c * 13, 4 + r * 13, 11, 11);
    p.end();
    return QIcon(pixmap);
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("关于 vidwall"));
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout();
    auto* icon = new QLabel(this);
    icon->setPixmap(vidwallIcon().pixmap(32, 32));
    row->addWidget(icon);
    row->addWidget(new QLabel(tr("vidwall，1.0 版"), this), 1);
    layout->addLayout(row);
    auto* ok = new QPushButton(tr("确定"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(ok, 0, Qt::AlignRight);
    resize(255, 95);  // 170 × 62 dialog units
}
