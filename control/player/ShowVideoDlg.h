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
#include <QUrl>
#include <QWidget>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern "C" {
struct AVFrame;
}

class CColorStaticST;
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

// Counters of a window's runs and pictures since construction, read by tests and benchmarks.
struct PlayCounters {
    std::atomic<std::uint64_t> runs{0};         // playback runs begun
    std::atomic<std::uint64_t> soundOpened{0};  // runs that held the sound device
    std::atomic<std::uint64_t> decoded{0};      // pictures the decoder delivered
    std::atomic<std::uint64_t> shown{0};        // pictures handed to ShowPicture and kept
    std::atomic<std::uint64_t> dropped{0};      // pictures not shown (other size, hidden, capture)
};

class CShowVideoDlg : public QWidget {
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
    // that has not yet passed its start gate from setting it again. GUI thread.
    void RequestStop();
    // A stop asked for since the current thread's last run ended; the start gate reads it.
    bool stopRequested() const { return m_bStopRequested.load(); }

    // Hands over one converted picture: `picture->data[0]` holds width × height pixels of
    // 32-bit BGRA, bottom row first. Keeps it as the window's current picture unless a capture
    // is in progress or playing has stopped. Always returns 0. Play thread.
    int ShowPicture(const AVFrame* picture, int width, int height, int reserved, int bitsPerPixel);

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
    bool isPlaying() const { return m_bPlaying.load(); }
    bool isReplay() const { return m_bReplay.load(); }
    qulonglong picturesShown() const { return m_counters.shown.load(); }

    // Visible on screen as far as the play thread is concerned (this window and its parents).
    bool isShownForPlay() const { return m_bShown.load(std::memory_order_acquire); }

    // A copy of the current picture (null when none) with its size; taken under m_csPicture.
    QImage currentPicture() const;

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

    // Guards m_hPicture, m_nPicWidth and m_nPicHeight. Never held while waiting for
    // anything else.
    mutable std::mutex m_csPicture;
    QImage m_hPicture;    // current picture, top row first; null when there is none
    int m_nPicWidth = 0;  // size of the image m_hPicture was made from
    int m_nPicHeight = 0;

    // Writes of m_bPlaying by a run (play thread). A thread told to quit no longer writes the
    // flag, so a thread that is leaving can never stop its successor's run.
    void setPlayingFromRun(const std::atomic<bool>& quit, bool value);

    // Paints the video area: the picture stretched to it, or the idle picture. GUI thread.
    void paintVideoArea(QPainter& painter, const QRect& area);

  protected:
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
    bool RunOnce(PlayThread& self);
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
    std::atomic<bool> m_bStopRequested{false};  // set by RequestStop, cleared when a run ends
    std::atomic<bool> m_bShown{false};          // mirror of isVisible() for the play thread
};
