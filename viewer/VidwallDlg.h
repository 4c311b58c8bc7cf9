// CvidwallDlg: the main window. The video wall fills it but for a 20-pixel band at the bottom
// that holds the Settings, Play and Stop buttons. GUI thread only.
#pragma once

#include <QDialog>

#include "Monvidctrl1.h"

class QPushButton;

class CvidwallDlg : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kBandHeight = 20;

    explicit CvidwallDlg(QWidget* parent = nullptr);

    void OnBnClickedPlay();
    void OnBnClickedStop();
    void OnBnClickedSet();
    void OnAbout();
    void LayoutControls();

    bool m_bInitDone = false;
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
};
