#include "MonvidPropPage.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QTabWidget>
#include <QVBoxLayout>

#include "MonvidIds.h"

CMonvidPropPage::CMonvidPropPage(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(monvid::kControlTypeName));
    auto* layout = new QVBoxLayout(this);
    auto* tabs = new QTabWidget(this);
    auto* page = new QWidget(tabs);
    page->setObjectName("page200");
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->addWidget(new QLabel(tr("Monvid 视频墙控件"), page));
    tabs->addTab(page, tr(monvid::kPropPageCaption));
    layout->addWidget(tabs);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(375, 150);  // 250 × 62 dialog units and the frame's buttons
}
