#include "VidwallDlg.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>

#include <unistd.h>
#include <cstdio>

#include "AboutDlg.h"
#include "PrivateProfile.h"
#include "SetDlg.h"
#include "Settings.h"

using namespace vidwall;

CvidwallDlg::CvidwallDlg(QWidget* parent, std::string settingsFile)
    : QDialog(parent), m_strSettingsFile(std::move(settingsFile)) {
    setWindowTitle("vidwall");
    setWindowIcon(vidwallIcon());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(true);

    m_btnPlay = new QPushButton(tr("播放"), this);
    m_btnStop = new QPushButton(tr("停止"), this);
    m_btnSet = new QPushButton(tr("设置"), this);
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

    resize(750, 490);  // 501 × 301 dialog units
    OnInitDialog();
}

void CvidwallDlg::OnInitDialog() {
    m_bInitDone = true;
    CreateControl();
}

int CvidwallDlg::windowCount() const {
    return platform::GetPrivateProfileInt(kSection, kKeyWinNum, kDefaultWinNum, m_strSettingsFile);
}

bool CvidwallDlg::CreateControl() {
    if (!m_ctrlVideo.isCreated() && m_ctrlVideo.Create(this)) {
        delete m_placeholder;
        m_placeholder = nullptr;
        m_ctrlVideo.window()->show();
    }
    if (!m_ctrlVideo.isCreated() && !m_placeholder) {
        // Without the control the window says why instead of showing an empty area.
        auto* label = new QLabel(this);
        label->setAlignment(Qt::AlignCenter);
        label->setWordWrap(true);
        m_placeholder = label;
    }
    if (auto* label = qobject_cast<QLabel*>(m_placeholder))
        label->setText(tr("无法创建视频墙控件（%1）：\n%2")
                           .arg(QString::fromStdString(m_ctrlVideo.lastErrorText()),
                                QString::fromStdString(m_ctrlVideo.lastErrorDetail())));
    LayoutControls();
    m_ctrlVideo.SetWindStyle(static_cast<std::uint16_t>(gridWindowCount(windowCount())));
    return m_ctrlVideo.isCreated();
}

void CvidwallDlg::SetFullScreen(bool fullScreen) {
    if (fullScreen == m_bFullScreen)
        return;
    m_bFullScreen = fullScreen;
    for (QPushButton* b : {m_btnSet, m_btnPlay, m_btnStop})
        b->setVisible(!fullScreen);
    if (fullScreen) {
        m_rcNormal = geometry();
        // A window manager makes the window cover the screen on request; without one (a bare
        // X server, a kiosk session) the window takes the screen's place itself.
        if (const QScreen* s = screen())
            setGeometry(s->geometry());
        showFullScreen();
    } else {
        showNormal();
        if (m_rcNormal.isValid())
            setGeometry(m_rcNormal);
    }
    LayoutControls();
}

void CvidwallDlg::LayoutControls() {
    if (!m_bInitDone)
        return;
    const QRect client = rect();
    const int y = client.bottom() + 1 - (m_bFullScreen ? 0 : kBandHeight);
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
        platform::GetPrivateProfileInt(kSection, kKeyReplay, kDefaultReplay, m_strSettingsFile);
    m_ctrlVideo.SetReplay(static_cast<std::int16_t>(replay));
    if (const int maxDelay =
            platform::GetPrivateProfileInt(kSection, kKeyMaxDelay, -1, m_strSettingsFile);
        maxDelay >= 0)
        m_ctrlVideo.SetMaxDelay(maxDelay);
    const int n = std::min(windowCount(), kWindows);
    m_ctrlVideo.SetWindStyle(static_cast<std::uint16_t>(gridWindowCount(windowCount())));
    // Every window is stopped before any starts: each StopPlay switches replay off on every
    // window, and a window started before a later StopPlay whose address failed at once
    // would see it off and give up for good.
    for (int i = 0; i < n; ++i)
        m_ctrlVideo.StopPlay(i);
    m_ctrlVideo.SetReplay(static_cast<std::int16_t>(replay));
    for (int i = 0; i < n; ++i) {
        // Cut between characters, as the settings dialog does, never inside one.
        const std::string address =
            utf8Prefix(platform::GetPrivateProfileString(kSection, fileKey(i), "",
                                                         m_strSettingsFile, std::string::npos),
                       kMaxAddressBytes);
        if (!address.empty())
            m_ctrlVideo.startplayurl(QByteArray::fromStdString(address),
                                     static_cast<std::int16_t>(i));
    }
}

void CvidwallDlg::OnBnClickedStop() {
    const int n = windowCount();
    m_ctrlVideo.SetWindStyle(static_cast<std::uint16_t>(gridWindowCount(n)));
    for (int i = 0; i < std::min(n, kWindows); ++i)
        m_ctrlVideo.StopPlay(i);
}

void CvidwallDlg::OnBnClickedSet() {
    CSetDlg dialog(this, m_strSettingsFile);
    runSettings(dialog);
    if (dialog.result() == QDialog::Accepted)
        m_ctrlVideo.SetWindStyle(static_cast<std::uint16_t>(gridWindowCount(dialog.m_nWinNum)));
}

void CvidwallDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CvidwallDlg::contextMenuEvent(QContextMenuEvent* event) {
    // The About entry of the window's menu, on the button band. A right click on the wall
    // belongs to its video windows: what they leave unhandled is not taken here.
    const QWidget* video = m_ctrlVideo.window() ? m_ctrlVideo.window() : m_placeholder;
    if (video && video->isVisible() && video->geometry().contains(event->pos())) {
        event->ignore();
        return;
    }
    QMenu menu(this);
    menu.addAction(tr("关于 vidwall(&A)..."), this, &CvidwallDlg::OnAbout);
    menu.exec(event->globalPos());
}

void CvidwallDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Escape:
            // Escape would close a dialog; the main window closes only through its close
            // button. In full screen it brings the band back.
            SetFullScreen(false);
            return;
        case Qt::Key_F11:
            SetFullScreen(!m_bFullScreen);
            return;
        case Qt::Key_F1:
            OnAbout();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void CvidwallDlg::closeEvent(QCloseEvent*) {
    // Closing ends the process at once with exit code 0: the play threads are not waited for
    // and nothing is saved.
    std::fflush(nullptr);
    _exit(0);
}
