// CMydlg: the grid of 16 video windows that fills the control. It owns the windows for its
// whole life and shows 1, 2, 4, 9 or 16 of them in equal cells. GUI thread only.
#pragma once

#include <QWidget>

#include <array>

#include "ShowVideoDlg.h"
#include "VideoGrid.h"

class CMydlg : public QWidget, public IVideoGrid {
    Q_OBJECT
  public:
    static constexpr int kWindowCount = 16;

    explicit CMydlg(QWidget* parent);
    ~CMydlg() override;

    // Shows windows 0 to count-1 in their cells and hides the others. Any count other than
    // 1, 2, 4, 9 or 16 is stored and changes nothing. Returns 0.
    int LayoutWindows(int count) override;
    void DeactivateAll() override;
    void HideAll() override;
    int windowCount() const override { return m_nWindowCount; }
    void SetReplayAll(bool replay);
    // Latency cap of live input for every window, in milliseconds (0: off).
    void SetMaxDelayAll(int ms);
    // The health overlay of every window: on for all unless all have it on already.
    void ToggleHealthOverlays();

    CShowVideoDlg* window(int index) const {
        return index >= 0 && index < kWindowCount ? m_wndVideo[index] : nullptr;
    }

    bool m_bInited = false;
    std::array<CShowVideoDlg*, kWindowCount> m_wndVideo{};  // owned by Qt as children
    int m_nWindowCount = 4;

  protected:
    void keyPressEvent(QKeyEvent* event) override;  // H: health overlays on or off
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

  private:
    void OnInitDialog();
};
