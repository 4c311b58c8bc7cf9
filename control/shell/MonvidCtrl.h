// CMonvidCtrl: the video wall control. It fills its window with the grid of 16 video windows
// and answers the dispatch interface _DMonvid: lay out, start, stop and title windows, save a
// window's picture, ask which window is selected, switch replay on or off.
//
// Hosts create it through the component layer (by class identifier or ProgID) and call it by
// dispatch id, or link the library and call the typed methods. GUI thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <string>

#include "Component.h"
#include "Mydlg.h"

class CMonvidCtrl;
class QPainter;

// The control's window: hands its creation, size, move and paint events to the control.
//
// A host may also set the dynamic property "MaxDelayMs" on it (an integer, milliseconds; 0
// turns the cap off): the latency cap of live input for every window, outside the dispatch
// interface, so hosts that do not know it are not affected.
class CMonvidWnd : public QWidget {
    Q_OBJECT
  public:
    static constexpr const char* kMaxDelayProperty = "MaxDelayMs";

    CMonvidWnd(CMonvidCtrl& control, QWidget* parent);

  protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    CMonvidCtrl& m_control;
};

class CMonvidCtrl : public QObject, public component::IOleControl {
    Q_OBJECT
    Q_PROPERTY(QString PicturesPath READ GetPicturesPath WRITE SetPicturesPath)
  public:
    CMonvidCtrl();
    ~CMonvidCtrl() override;

    // component::IOleControl
    void Release() override;
    component::HRESULT Invoke(std::int32_t dispid, int flags, const QVariantList& args,
                              QVariant* result) override;
    component::HRESULT CreateControlWindow(QWidget* parent) override;
    QWidget* controlWindow() override { return m_pWnd; }
    component::HRESULT ShowProperties() override;

    // The dispatch members as typed methods. A window index outside 0 to 15 does nothing.
    void SetWindStyle(std::uint16_t nStyle);
    void StopPlay(std::int32_t nWindow);
    std::int16_t startplayurl(const QByteArray& strUrl, std::int16_t nWindow);
    std::int16_t SetViewTitle(std::int16_t nWindow, const QByteArray& title);
    QString GetPicturesPath() const;
    void SetPicturesPath(const QString& path);   // marks the control modified
    void SetPicPath(const QString& strPicPath);  // does not
    std::int32_t CapturePic(std::int32_t nWindow);
    std::int32_t GetActiveWnd() const;
    std::int16_t SetReplay(std::int16_t bReplay);

    // Latency cap of live input for every window (the window's "MaxDelayMs" property).
    void SetMaxDelay(int ms);

    // Window events.
    int OnCreate();
    void OnSize();
    // Draws the control's placeholder: a white background and an inscribed ellipse. Shows
    // only where a container draws the control without its window.
    void OnDraw(QPainter& painter, const QRect& bounds);

    // Persistence: only the version word 0x00010000 (1.0) is stored; the pictures folder is
    // not. Load fails for a stream of a later version or one too short.
    QByteArray SaveState() const;
    bool LoadState(const QByteArray& state);
    bool IsModified() const { return m_bModified; }
    void SetModifiedFlag(bool modified = true) { m_bModified = modified; }

    CMydlg* grid() const { return m_grid.data(); }

    // Controls alive in this process (DllCanUnloadNow).
    static int liveObjects() { return s_liveObjects.load(); }

  private:
    QPointer<CMonvidWnd> m_pWnd;  // the control's window, owned by the host's parent widget
    QPointer<CMydlg> m_grid;      // child of m_pWnd, gone with it
    std::string m_strPicturesPath;
    bool m_bModified = false;

    static std::atomic<int> s_liveObjects;
};
