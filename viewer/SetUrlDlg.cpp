#include "SetUrlDlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CSetUrlDlg::CSetUrlDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("RTMP/RTSP视频源"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("RTMP或者RTSP:"), this));
    m_edAddress = new QLineEdit(this);
    layout->addWidget(m_edAddress);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    auto* ok = new QPushButton(tr("确定"), this);
    ok->setDefault(true);
    auto* cancel = new QPushButton(tr("取消"), this);
    connect(ok, &QPushButton::clicked, this, &CSetUrlDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    resize(500, 180);  // 335 × 109 dialog units
}

void CSetUrlDlg::accept() {
    m_strAddress = m_edAddress->text();
    QDialog::accept();
}
