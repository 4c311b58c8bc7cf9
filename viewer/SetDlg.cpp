#include "SetDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>

#include "PrivateProfile.h"
#include "SetUrlDlg.h"
#include "Settings.h"

using namespace vidwall;

int leadingInteger(const QString& text) {
    const QByteArray bytes = text.toLatin1();
    std::size_t i = 0;
    while (i < static_cast<std::size_t>(bytes.size()) && (bytes[i] == ' ' || bytes[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < static_cast<std::size_t>(bytes.size()) && (bytes[i] == '-' || bytes[i] == '+'))
        negative = bytes[i++] == '-';
    long long value = 0;
    for (; i < static_cast<std::size_t>(bytes.size()) && bytes[i] >= '0' && bytes[i] <= '9'; ++i) {
        value = value * 10 + (bytes[i] - '0');
        if (value > INT32_MAX)
            value = INT32_MAX;  // a run of digits saturates
    }
    return static_cast<int>(negative ? -value : value);
}

CSetDlg::CSetDlg(QWidget* parent, std::string settingsFile)
    : QDialog(parent), m_strSettingsFile(std::move(settingsFile)) {
    setWindowTitle(tr("播放设置"));
    auto* layout = new QGridLayout(this);
    layout->addWidget(new QLabel(tr("窗口数："), this), 0, 0);
    m_cbWinNum = new QComboBox(this);
    m_cbWinNum->setEditable(true);
    layout->addWidget(m_cbWinNum, 0, 1);
    m_chkReplay = new QCheckBox(tr("循环播放"), this);
    layout->addWidget(m_chkReplay, 0, 2);

    auto* assign = new QHBoxLayout();
    auto* addFile = new QPushButton(tr("分配视频"), this);
    auto* addUrl = new QPushButton(tr("分配rtmp/rtsp视频源"), this);
    auto* clear = new QPushButton(tr("重新分配"), this);
    addFile->setObjectName("1003");
    addUrl->setObjectName("1004");
    clear->setObjectName("1005");
    for (auto* b : {addFile, addUrl, clear}) {
        b->setAutoDefault(false);
        assign->addWidget(b);
    }
    assign->addStretch(1);
    layout->addLayout(assign, 1, 0, 1, 3);

    m_lstSources = new QTreeWidget(this);
    m_lstSources->setRootIsDecorated(false);
    m_lstSources->setColumnCount(2);
    m_lstSources->setHeaderLabels({tr("窗口号"), tr("视频源")});
    m_lstSources->setColumnWidth(0, 120);
    m_lstSources->setColumnWidth(1, 400);
    layout->addWidget(m_lstSources, 2, 0, 1, 3);

    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    auto* save = new QPushButton(tr("保存"), this);
    save->setObjectName("1");
    save->setDefault(true);
    auto* cancel = new QPushButton(tr("取消"), this);
    cancel->setObjectName("2");
    cancel->setAutoDefault(false);
    buttons->addWidget(save);
    buttons->addWidget(cancel);
    layout->addLayout(buttons, 3, 0, 1, 3);

    connect(addFile, &QPushButton::clicked, this, &CSetDlg::OnBnClickedAddFile);
    connect(addUrl, &QPushButton::clicked, this, &CSetDlg::OnBnClickedAddUrl);
    connect(clear, &QPushButton::clicked, this, &CSetDlg::OnBnClickedClear);
    connect(save, &QPushButton::clicked, this, &CSetDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    chooseFile = [this] {
        return QFileDialog::getOpenFileName(this, QString(), QString(),
                                            tr("视频格式文件(*.*) (*)"));
    };
    askAddress = [this]() -> std::optional<QString> {
        CSetUrlDlg dialog(this);
        dialog.m_strAddress.clear();
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        return dialog.m_strAddress;
    };
    reportError = [this](const QString& message) {
        QMessageBox::warning(this, tr("保存失败"), message);
    };
    resize(550, 515);  // 366 × 317 dialog units
    OnInitDialog();
}

void CSetDlg::OnInitDialog() {
    m_cbWinNum->addItems({"1", "2", "4", "9", "16"});
    const int winnum =
        platform::GetPrivateProfileInt(kSection, kKeyWinNum, kDefaultWinNum, m_strSettingsFile);
    m_cbWinNum->setEditText(QString::number(winnum));
    m_chkReplay->setChecked(platform::GetPrivateProfileInt(kSection, kKeyReplay, kDefaultReplay,
                                                           m_strSettingsFile) != 0);
    // Rows also for empty entries, as many as the count says (never more than the wall has).
    for (int i = 0; i < std::min(winnum, kWindows); ++i)
        addRow(QString::fromStdString(
            utf8Prefix(platform::GetPrivateProfileString(kSection, fileKey(i), "",
                                                         m_strSettingsFile, std::string::npos),
                       kMaxAddressBytes)));
}

void CSetDlg::addRow(const QString& source) {
    auto* row = new QTreeWidgetItem(m_lstSources);
    row->setText(0, tr("%1号窗口").arg(m_lstSources->topLevelItemCount() - 1));
    row->setText(1, source);
}

void CSetDlg::OnBnClickedAddFile() {
    const QString path = chooseFile ? chooseFile() : QString();
    if (!path.isEmpty())
        addRow(path);
}

void CSetDlg::OnBnClickedAddUrl() {
    const std::optional<QString> address = askAddress ? askAddress() : std::nullopt;
    if (address && !address->isEmpty())
        addRow(*address);
}

void CSetDlg::OnBnClickedClear() {
    m_lstSources->clear();
}

void CSetDlg::accept() {
    const QString count = m_cbWinNum->currentText();
    const int winnum = count.isEmpty() ? m_nWinNum : leadingInteger(count);
    if (!isWindowCount(winnum)) {
        // The wall lays out only these counts; another one would be saved and then do
        // nothing. The dialog stays open with everything in it.
        if (reportError)
            reportError(tr("窗口数“%1”无效：只能是 1、2、4、9 或 16。\n\n设置尚未保存。")
                            .arg(count.trimmed()));
        m_cbWinNum->setFocus();
        return;
    }
    m_nWinNum = winnum;
    if (!saveSettings()) {
        // Closing now would lose every address without a word; the user can fix the folder
        // and save again, or cancel.
        if (reportError)
            reportError(
                tr("无法写入设置文件：\n%1\n\n设置尚未保存。请检查该文件"
                   "及其所在的文件夹是否可以写入。")
                    .arg(QDir::toNativeSeparators(
                        QFileInfo(QString::fromStdString(m_strSettingsFile)).absoluteFilePath())));
        return;
    }
    QDialog::accept();
}

bool CSetDlg::saveSettings() {
    const auto write = [this](const std::string& key, const std::string& value) {
        return platform::WritePrivateProfileString(kSection, key, value, m_strSettingsFile);
    };
    if (!write(kKeyWinNum, std::to_string(m_nWinNum)) ||
        !write(kKeyReplay, m_chkReplay->isChecked() ? "1" : "0"))
        return false;
    for (int i = 0; i < kWindows; ++i)
        if (!write(fileKey(i), ""))
            return false;
    for (int r = 0; r < m_lstSources->topLevelItemCount(); ++r) {
        const std::string source =
            utf8Prefix(m_lstSources->topLevelItem(r)->text(1).toStdString(), kMaxAddressBytes);
        if (!write(fileKey(r), source))
            return false;
    }
    return true;
}
