#include "VidwallDlg.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include <unistd.h>
#include <cstdio>

#include "AboutDlg.h"
#include "PrivateProfile.h"
#include "SetDlg.h"
#include "Settings.h"

using namespace vidwall;

CvidwallDlg::CvidwallDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle("vidwall");
    setWindowIcon(vidwallIcon());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(true);

    m_btnPlay = new QPushButton(QString::fromUtf8("播放"), this);
    m_btnStop = new QPushButton(QString::fromUtf8("停止"), this);
    m_btnSet = new QPushButton(QString::fromUtf8("设置"), this);
    m_btnPlay->setObjectName("1003");
    m_btnStop->setObjectName("1005");
    m_btnSet->setObjectName("1006");
    for (QPushButton* b : {m_btnPlay, m_btnStop, m_btnSet}) {
        b->setAutoDefault(false);
        b->resize(75, 23);  // 50 × 14 dialog units
    }
    connect(m_btnPlay, &QPushButton::clicked, this, &CvidwallDlg::OnBnClickedPlay);
    connect(m_btnStop, &QPushButton::clicked, this, &CvidwallDlg::OnBnClickedStop);
    connect(m_btnSet, &QPushButton::clicked, this, &CvidwallDlg::OnBnClickedSet);

    runSettings = [](CSetDlg& dialog) { dialog.exec(); };

    if (!m_ctrlVideo.Create(this)) {
        // Without a registered control the window says so instead of showing an empty area.
        auto* label = new QLabel(
            QString("The video wall control is not registered (0x%1).\nRegister libmonvid.so with "
                    "monvid-regsvr.")
                .arg(static_cast<quint32>(m_ctrlVideo.lastError()), 8, 16, QChar('0')),
            this);
        label->setAlignment(Qt::AlignCenter);
        m_placeholder = label;
    }
    resize(750, 490);  // 501 × 301 dialog units
    OnInitDialog();
}

void CvidwallDlg::OnInitDialog() {
    m_bInitDone = true;
    LayoutControls();
    m_ctrlVideo.SetWindStyle(static_cast<std::uint16_t>(
        platform::GetPrivateProfileInt(kSection, kKeyWinNum, kDefaultWinNum, kSettingsFile)));
}

void CvidwallDlg::LayoutControls() {
    if (!m_bInitDone)
        return;
    const QRect client = rect();
    const int y = client.bottom() + 1 - kBandHeight;
    QWidget* video = m_ctrlVideo.window() ? m_ctrlVideo.window() : m_placeholder;
    if (video)
        video->setGeometry(client.left(), client.top(), client.width(), y - client.top());
    const int w = m_btnSet->width(), h = m_btnSet->height();
    m_btnSet->setGeometry(20, y, w, h);
    m_btnPlay->setGeometry(w + 40, y, w, h);
    m_btnStop->setGeometry(2 * w + 60, y, w, h);
}

void CvidwallDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    LayoutControls();
}

void CvidwallDlg::moveEvent(QMoveEvent* event) {
    QDialog::moveEvent(event);
    LayoutControls();
}

void CvidwallDlg::OnBnClickedPlay() {
    const int replay =
        platform::GetPrivateProfileInt(kSection, kKeyReplay, kDefaultReplay, kSettingsFile);
    m_ctrlVideo.SetReplay(static_cast<std::int16_t>(replay));
    if (const int maxDelay =
            platform::GetPrivateProfileInt(kSection, kKeyMaxDelay, -1, kSettingsFile);
        maxDelay >= 0)
        m_ctrlVideo.SetMaxDelay(maxDelay);
    const int n =
        platform::GetPrivateProfileInt(kSection, kKeyWinNum, kDefaultWinNum, kSettingsFile);
    m_ctrlVideo.SetWindStyle(static_cast<std::uint16_t>(n));
    for (int i = 0; i < std::min(n, kWindows); ++i) {
        m_ctrlVideo.StopPlay(i);
        const std::string address = platform::GetPrivateProfileString(
            kSection, fileKey(i), "", kSettingsFile, kMaxAddressBytes);
        if (!address.empty())
            m_ctrlVideo.startplayurl(QByteArray::fromStdString(address),
                                     static_cast<std::int16_t>(i));
    }
    // Each StopPlay switched replay off on every window: the windows just started keep the
    // configured loop setting.
    m_ctrlVideo.SetReplay(static_cast<std::int16_t>(replay));
}

void CvidwallDlg::OnBnClickedStop() {
    const int n =
        platform::GetPrivateProfileInt(kSection, kKeyWinNum, kDefaultWinNum, kSettingsFile);
    m_ctrlVideo.SetWindStyle(static_cast<std::uint16_t>(n));
    for (int i = 0; i < std::min(n, kWindows); ++i)
        m_ctrlVideo.StopPlay(i);
}

void CvidwallDlg::OnBnClickedSet() {
    CSetDlg dialog(this);
    runSettings(dialog);
    if (dialog.result() == QDialog::Accepted)
        m_ctrlVideo.SetWindStyle(static_cast<std::uint16_t>(dialog.m_nWinNum));
}

void CvidwallDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CvidwallDlg::contextMenuEvent(QContextMenuEvent* event) {
    // The About entry of the window's menu.
    QMenu menu(this);
    menu.addAction(QString::fromUtf8("关于 vidwall(&A)..."), this, &CvidwallDlg::OnAbout);
    menu.exec(event->globalPos());
}

void CvidwallDlg::keyPressEvent(QKeyEvent* event) {
    // Escape would close a dialog; the main window closes only through its close button.
    if (event->key() == Qt::Key_Escape)
        return;
    if (event->key() == Qt::Key_F1) {
        OnAbout();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CvidwallDlg::closeEvent(QCloseEvent*) {
    // Closing ends the process at once with exit code 0: the play threads are not waited for
    // and nothing is saved.
    std::fflush(nullptr);
    _exit(0);
}
