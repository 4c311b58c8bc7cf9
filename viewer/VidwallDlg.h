// CvidwallDlg: the main window. The video wall fills it but for a 20-pixel band at the bottom
// that holds the Settings, Play and Stop buttons; in full screen (kiosk) mode the wall fills
// the whole screen and the band is hidden. GUI thread only.
#pragma once

#include <QDialog>

#include <functional>
#include <string>

#include "Monvidctrl1.h"
#include "Settings.h"

class QPushButton;

class CvidwallDlg : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kBandHeight = 20;

    // The main window over the settings file `settingsFile` ("./set.ini" unless the command
    // line names another). Creates the control; when that fails the window shows why in its
    // place, and CreateControl can try again.
    explicit CvidwallDlg(QWidget* parent = nullptr,
                         std::string settingsFile = vidwall::kSettingsFile);

    void OnBnClickedPlay();
    void OnBnClickedStop();
    void OnBnClickedSet();
    void OnAbout();
    void LayoutControls();

    // Creates the control when it does not exist yet and lays it out for the configured
    // window count; false with the reason in m_ctrlVideo when it cannot be made.
    bool CreateControl();

    // Full screen: the wall covers the whole screen the window is on, without the band.
    // Leaving it brings back the band and the window's earlier place.
    void SetFullScreen(bool fullScreen);
    bool IsFullScreen() const { return m_bFullScreen; }

    bool m_bInitDone = false;
    const std::string m_strSettingsFile;
    CMonvidctrl1 m_ctrlVideo;          // item 1000
    QPushButton* m_btnPlay = nullptr;  // item 1003, "播放"
    QPushButton* m_btnStop = nullptr;  // item 1005, "停止"
    QPushButton* m_btnSet = nullptr;   // item 1006, "设置"
    QWidget* m_placeholder = nullptr;  // shown where the control could not be created

    // Runs the settings dialog; replaceable so that tests can drive it.
    std::function<void(class CSetDlg&)> runSettings;

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void OnInitDialog();
    int windowCount() const;  // "winnum" of the settings file

    bool m_bFullScreen = false;
    QRect m_rcNormal;  // the window's place before full screen
};
