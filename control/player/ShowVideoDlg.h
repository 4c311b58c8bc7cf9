// CShowVideoDlg: one video window of the wall. A title strip across the top, the video area
// below it, and a play thread that plays m_strUrl run after run while m_bReplay is set.
//
// Threads: the window is created, shown, painted and destroyed on the GUI thread, which also
// calls StartPlay and writes m_bReplay. The play thread runs CStreamPlayer::Play and calls
// ShowPicture; it reaches the GUI thread only through queued calls (repaints).
#pragma once

#include <QFrame>
#include <QImage>
#include <QList>
#include <QStringList>
#include <QUrl>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FfmpegPtr.h"
#include "HealthOverlay.h"
#include "LatencyCap.h"
#include "LostBadge.h"
#include "PlayWindow.h"

class CColorStaticST;
class QMenu;
class QTimer;
class CShowVideoDlg;
class CStreamPlayer;

// Item 203: the area the pictures are drawn into. Clicks pass through to the window.
class CVideoArea : public QFrame {
  public:
    CVideoArea(CShowVideoDlg& owner, QWidget* parent);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    CShowVideoDlg& m_owner;
};

class CShowVideoDlg : public QWidget, public IPlayWindow {
    Q_OBJECT
    // Read-only views for hosts and tests that see the window only as a QObject.
    Q_PROPERTY(QString address READ addressText)
    Q_PROPERTY(bool playing READ isPlaying)
    Q_PROPERTY(bool replay READ isReplay)
    Q_PROPERTY(bool active MEMBER m_bActive)
    Q_PROPERTY(int playThreads READ liveThreadCount)
    Q_PROPERTY(qulonglong picturesShown READ picturesShown)
  public:
    static constexpr int kTitleHeight = 20;      // height of the title strip in pixels
    static constexpr int kRestartWaitMs = 5000;  // StartPlay's wait for the old thread
    static constexpr int kCloseWaitMs = 3000;    // the close handler's wait
    // Title strip of a window whose input is lost: amber, a deeper one when it is selected.
    static constexpr std::uint32_t kLostBk = 0x0090FF;        // red 255, green 144, blue 0
    static constexpr std::uint32_t kLostActiveBk = 0x0050FF;  // red 255, green 80, blue 0

    explicit CShowVideoDlg(QWidget* parent);
    ~CShowVideoDlg() override;
    CShowVideoDlg(const CShowVideoDlg&) = delete;
    CShowVideoDlg& operator=(const CShowVideoDlg&) = delete;

    // (Re)starts playback of m_strUrl on a new play thread. An earlier thread is asked to
    // leave and waited for (at most kRestartWaitMs); after the call exactly one thread plays
    // the current address. GUI thread.
    void StartPlay();

    // Stops the play thread as the close handler does (waits at most kCloseWaitMs).
    void OnClose();

    // Stops the current run, as the shell's StopPlay does: clears m_bPlaying and keeps a run
    // that has not yet passed its start gate from setting it again. A wait between runs ends
    // at once. GUI thread.
    void RequestStop();
    // A stop asked for since the current thread's last run ended; the start gate reads it.
    bool stopRequested() const override { return m_bStopRequested.load(); }

    // Hands over one picture at the stream's own size: `picture->data[0]` holds width × height
    // pixels of 32-bit BGRA, bottom row first. Keeps it as the window's current picture unless
    // a capture is in progress or playing has stopped. Always returns 0. Play thread. (Runs
    // hand their pictures over with offerPicture, already at the video area's size.)
    int ShowPicture(const AVFrame* picture, int width, int height, int reserved, int bitsPerPixel);

    // IPlayWindow: what the play thread's run sees of this window. Play thread.
    bool isPlaying() const override { return m_bPlaying.load(); }
    bool isShownForPlay() const override { return m_bShown.load(std::memory_order_acquire); }
    void setPlayingFromRun(const std::atomic<bool>& quit, bool value) override;
    QSize pictureTarget() const override;
    bool offerPicture(QImage& picture, const AVFrame* source) override;
    void streamOpened(const StreamFacts& facts) override;
    void linkRestored() override;
    int maxDelayMs() const override { return m_nMaxDelayMs.load(); }
    PlayCounters& counters() override { return m_counters; }

    // Latency cap of live input in milliseconds (0: off), taken by each run as it begins.
    void SetMaxDelay(int ms) { m_nMaxDelayMs.store(ms < 0 ? 0 : ms); }

    // The health overlay: shown over the picture, refreshed every second. GUI thread.
    void SetHealthOverlay(bool on);
    bool healthOverlay() const { return m_bHealthOverlay; }
    // Figures of the overlay as last refreshed, and its lines.
    const monvid::HealthFigures& healthFigures() const { return m_healthFigures; }
    QStringList healthText() const { return monvid::healthLines(m_healthFigures); }
    // Takes a sample of the counters and refreshes the figures (the overlay's timer does this
    // every second). GUI thread.
    void refreshHealth();

    // The link's state as the badge shows it, and the badge's lines (empty when the link is
    // not lost). Any thread.
    monvid::LinkLoss linkLoss() const;
    QStringList badgeText() const;

    // The video window's right-click menu (the health overlay switch). GUI thread.
    QMenu* makeContextMenu(QWidget* parent);

    // Selection and enlarging within the grid (the parent widget, when it is one).
    void Activate();         // selects this window: the others are deselected first
    void Deactivate();       // grey title strip, not selected
    void ToggleMaximized();  // covers the whole grid, or gives the grid its layout back

    // Writes the current picture to `path` as a BMP file at the display's colour depth. False
    // when there is no picture, it cannot be encoded (no memory) or the file cannot be written.
    // GUI thread.
    bool SavePicture(const std::string& path);
    // The same at a given depth in bits per pixel (the display's, normally).
    bool SavePicture(const std::string& path, int displayDepth);

    // Files dropped on the window: the first local file plays here, its path taken whole;
    // the others are ignored.
    void OnDropFiles(const QList<QUrl>& urls);

    // Title strip text.
    void SetTitle(const QString& text);
    QString title() const;

    // Address to play; assigned on the GUI thread, copied by the play thread.
    void setUrl(const std::string& url);
    std::string url() const;

    QString addressText() const { return QString::fromStdString(url()); }
    bool isReplay() const { return m_bReplay.load(); }
    qulonglong picturesShown() const { return m_counters.shown.load(); }

    // A copy of the current picture at the stream's own size (null when none).
    QImage currentPicture() const;
    // A copy of the picture as it is painted (the video area's size, or null).
    QImage shownPicture() const;

    // Number of play threads of this window that have not yet ended (0 or 1 normally; a
    // thread that outlived its wait is counted until it ends).
    int liveThreadCount() const { return m_nLiveThreads.load(); }

    // Flags shared with the play thread.
    std::atomic<bool> m_bPlaying{false};    // a run plays or may play; cleared to stop it
    std::atomic<bool> m_bReplay{true};      // begin a new run each time one ends
    std::atomic<bool> m_bCapturing{false};  // a capture reads the picture; new ones are dropped

    bool m_bInited = false;     // set at initialisation
    bool m_bMaximized = false;  // the window covers the whole grid
    bool m_bActive = false;     // the selected window
    std::string m_strTitle;     // title used for picture names; set only by the shell

    CColorStaticST* m_stTitle = nullptr;  // item 202, the title strip (owned by Qt)
    CVideoArea* m_videoArea = nullptr;    // item 203, the video area (owned by Qt)

    PlayCounters m_counters;

    // Starts a play thread running `body`; std::thread unless a test puts a failing one here.
    // A starter that throws leaves the window without a thread. GUI thread.
    using ThreadStarter = std::function<std::thread(std::function<void()> body)>;
    ThreadStarter m_startThread;
    // Encodes the picture for SavePicture (monvid::encodeBitmapFile unless a test puts one
    // here that runs out of memory). GUI thread.
    using PictureEncoder =
        std::function<std::vector<std::uint8_t>(const QImage& picture, int bitsPerPixel)>;
    PictureEncoder m_encodePicture;

    // Guards m_hPicture, m_nPicWidth, m_nPicHeight, m_lastFrame and m_lastPictureAt. Never
    // held while waiting for anything else. Taken before m_statusLock when both are needed.
    mutable std::mutex m_csPicture;
    QImage m_hPicture;    // current picture as painted, top row first; null when there is none
    int m_nPicWidth = 0;  // the stream's size of the picture m_hPicture was made from
    int m_nPicHeight = 0;
    // The decoded picture m_hPicture was converted from, kept so that a capture saves the
    // stream's own size; null when m_hPicture came otherwise (ShowPicture, a test).
    monvid::FramePtr m_lastFrame;
    std::chrono::system_clock::time_point m_lastPictureAt{};  // when m_hPicture was kept

    // Paints the video area: the picture stretched to it, or the idle picture. GUI thread.
    void paintVideoArea(QPainter& painter, const QRect& area);

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    // One play thread and what it is told. The thread owns nothing of the window.
    struct PlayThread {
        std::thread thread;
        std::atomic<bool> quit{false};  // leave the replay loop and stop the current run
        std::mutex doneLock;            // guards done
        std::condition_variable doneChanged;
        bool done = false;  // the thread has left PlayThreadProc
    };

    void OnInitDialog();
    void layoutItems();
    void PlayThreadProc(PlayThread& self);
    bool RunOnce(PlayThread& self, RunOutcome& outcome);
    // Ends a wait between runs of the thread at once (it looks at its flags again).
    static void wakeThread(PlayThread& thread);
    // Waits until the next run is due: `wait` passes, or the thread is told to quit, a stop
    // comes in, replay is switched off or the window is shown again. Play thread.
    void waitBeforeNextRun(PlayThread& self, std::chrono::milliseconds wait);
    // Records how a run ended for the badge (play thread) and repaints (GUI thread).
    void noteRunEnded(const PlayThread& self, const RunOutcome& outcome, bool retrying,
                      std::chrono::milliseconds wait);
    void clearLinkLoss();
    // Whether the badge says when the next try is: not while a try runs (its time has come)
    // nor once the thread has stopped trying.
    void setRetrying(bool retrying);
    void linkStatusChanged();  // GUI thread: title colour and repaint
    std::uint32_t titleColour(bool active) const;
    // Asks the thread to leave and waits up to timeoutMs; a thread that is still running then
    // is kept in m_abandoned and joined later (it leaves at its next check).
    void stopThread(std::unique_ptr<PlayThread> thread, int timeoutMs);
    void reapAbandoned(bool waitForAll);
    // End of a run on its play thread: the picture goes, the window and its parent repaint
    // (the idle picture) and a stop this run honoured is done with. A thread told to quit
    // leaves the window alone. Play thread.
    void finishRun(const PlayThread& self, bool played);
    // Drops the current picture; true when there was one.
    bool dropPicture();

    std::unique_ptr<CStreamPlayer> m_pPlayer;  // runs one playback run

    std::unique_ptr<PlayThread> m_hThread;  // the current play thread; GUI thread only
    std::vector<std::unique_ptr<PlayThread>>
        m_abandoned;  // threads past their wait; GUI thread only
    std::atomic<int> m_nLiveThreads{0};

    mutable std::mutex m_urlLock;  // guards m_strUrl
    std::string m_strUrl;

    // Orders a run's writes of m_bPlaying against a thread's quit and a stop request; guards
    // the writes of m_bStopRequested.
    std::mutex m_flagLock;
    std::atomic<bool> m_bStopRequested{false};   // set by RequestStop, cleared when a run ends
    std::atomic<bool> m_bShown{false};           // mirror of isVisible() for the play thread
    std::atomic<unsigned> m_nWakes{0};           // counts showings; ends a wait between runs
    std::atomic<std::uint64_t> m_targetSize{0};  // video area in device pixels: w << 32 | h
    std::atomic<int> m_nMaxDelayMs{monvid::kDefaultMaxDelayMs};

    mutable std::mutex m_statusLock;  // guards m_loss and m_facts
    monvid::LinkLoss m_loss;
    StreamFacts m_facts;

    // Health overlay; GUI thread only.
    bool m_bHealthOverlay = false;
    QTimer* m_healthTimer = nullptr;                   // owned by Qt
    std::deque<monvid::HealthSample> m_healthSamples;  // the last few seconds, oldest first
    monvid::HealthFigures m_healthFigures;
};
