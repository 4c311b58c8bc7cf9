#include "ShowVideoDlg.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScreen>
#include <QUrl>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "BitmapFile.h"
#include "ColorStaticST.h"
#include "IdlePicture.h"
#include "StreamPlayer.h"
#include "VideoGrid.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace {
// Pause after a run that could not begin playing, so that an address that fails at once, or
// a hidden window that may not play, does not spin a processor core.
constexpr auto kFailedRunPause = std::chrono::milliseconds(50);
}  // namespace

CVideoArea::CVideoArea(CShowVideoDlg& owner, QWidget* parent) : QFrame(parent), m_owner(owner) {
    setFrameStyle(QFrame::Box | QFrame::Sunken);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CVideoArea::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    m_owner.paintVideoArea(painter, rect());
}

CShowVideoDlg::CShowVideoDlg(QWidget* parent)
    : QWidget(parent),
      m_startThread([](std::function<void()> body) { return std::thread(std::move(body)); }),
      m_encodePicture(&monvid::encodeBitmapFile),
      m_pPlayer(std::make_unique<CStreamPlayer>(*this)) {
    m_stTitle = new CColorStaticST(this);
    m_stTitle->setText("1    ");
    m_videoArea = new CVideoArea(*this, this);
    setAcceptDrops(true);
    connect(m_stTitle, &CColorStaticST::clicked, this, &CShowVideoDlg::Activate);
    connect(m_stTitle, &CColorStaticST::doubleClicked, this, &CShowVideoDlg::ToggleMaximized);
    OnInitDialog();
}

CShowVideoDlg::~CShowVideoDlg() {
    // The play thread uses this window and its player throughout a run: it must have ended
    // before either is destroyed.
    if (m_hThread)
        stopThread(std::move(m_hThread), kCloseWaitMs);
    reapAbandoned(true);
}

void CShowVideoDlg::OnInitDialog() {
    m_bInited = true;
    m_stTitle->SetBkColor(CColorStaticST::kInactiveBk);
    layoutItems();
}

void CShowVideoDlg::layoutItems() {
    if (!m_bInited)
        return;
    const QRect client = rect();
    m_stTitle->setGeometry(client.left(), client.top(), client.width(), kTitleHeight);
    m_videoArea->setGeometry(client.left(), client.top() + kTitleHeight, client.width(),
                             client.height() - kTitleHeight);
}

void CShowVideoDlg::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutItems();
    m_stTitle->update();
}

void CShowVideoDlg::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    layoutItems();
}

void CShowVideoDlg::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_bShown.store(isVisible(), std::memory_order_release);
}

void CShowVideoDlg::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    m_bShown.store(isVisible(), std::memory_order_release);
}

void CShowVideoDlg::Activate() {
    if (auto* grid = dynamic_cast<IVideoGrid*>(parentWidget()))
        grid->DeactivateAll();
    m_bActive = true;
    m_stTitle->SetBkColor(CColorStaticST::kActiveBk);
    layoutItems();
    m_stTitle->update();
}

void CShowVideoDlg::Deactivate() {
    m_stTitle->SetBkColor(CColorStaticST::kInactiveBk);
    m_bActive = false;
}

void CShowVideoDlg::ToggleMaximized() {
    auto* grid = dynamic_cast<IVideoGrid*>(parentWidget());
    if (m_bMaximized) {
        if (grid)
            grid->LayoutWindows(grid->windowCount());
        m_bMaximized = false;
    } else {
        if (grid)
            grid->HideAll();
        show();
        if (parentWidget())
            setGeometry(parentWidget()->rect());
        m_bMaximized = true;
    }
    layoutItems();
    m_stTitle->update();
}

void CShowVideoDlg::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        Activate();
    QWidget::mousePressEvent(event);
}

void CShowVideoDlg::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void CShowVideoDlg::dropEvent(QDropEvent* event) {
    OnDropFiles(event->mimeData()->urls());
    event->acceptProposedAction();
}

void CShowVideoDlg::OnDropFiles(const QList<QUrl>& urls) {
    if (urls.isEmpty() || !urls.first().isLocalFile())
        return;
    setUrl(QFile::encodeName(urls.first().toLocalFile()).toStdString());
    StartPlay();
}

bool CShowVideoDlg::SavePicture(const std::string& path) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return SavePicture(path, screen ? screen->depth() : 32);
}

bool CShowVideoDlg::SavePicture(const std::string& path, int displayDepth) {
    QImage picture;
    {
        // The mark is set and the picture taken under the picture lock, so that no
        // replacement that began before the mark can be under way while it is read.
        std::lock_guard lock(m_csPicture);
        if (m_hPicture.isNull())
            return false;
        m_bCapturing = true;
        picture = m_hPicture;
    }
    // The mark comes off on every way out: a mark left set would drop every later picture.
    struct ClearMark {
        std::atomic<bool>& mark;
        ~ClearMark() { mark = false; }
    } clearMark{m_bCapturing};
    std::vector<std::uint8_t> file;
    try {
        file = m_encodePicture(picture, monvid::bitmapBitsForDisplayDepth(displayDepth));
    } catch (const std::bad_alloc&) {
        return false;  // a large picture in a full memory: nothing is saved, playing goes on
    }
    bool written = false;
    if (!file.empty()) {
        if (std::FILE* out = std::fopen(path.c_str(), "wb")) {
            written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
            written = (std::fclose(out) == 0) && written;
            if (!written)
                std::remove(path.c_str());
        }
    }
    return written;
}

void CShowVideoDlg::SetTitle(const QString& text) {
    m_stTitle->setText(text);
}
QString CShowVideoDlg::title() const {
    return m_stTitle->text();
}

void CShowVideoDlg::setUrl(const std::string& url) {
    std::lock_guard lock(m_urlLock);
    m_strUrl = url;
}

std::string CShowVideoDlg::url() const {
    std::lock_guard lock(m_urlLock);
    return m_strUrl;
}

QImage CShowVideoDlg::currentPicture() const {
    std::lock_guard lock(m_csPicture);
    return m_hPicture.copy();
}

int CShowVideoDlg::ShowPicture(const AVFrame* picture, int width, int height, int /*reserved*/,
                               int bitsPerPixel) {
    {
        std::lock_guard lock(m_csPicture);
        if (m_bCapturing.load() || !m_bPlaying.load() || bitsPerPixel != 32 || width <= 0 ||
            height <= 0) {
            m_counters.dropped.fetch_add(1, std::memory_order_relaxed);
        } else {
            m_nPicWidth = width;
            m_nPicHeight = height;
            // The window's picture is kept top row first; the incoming rows are bottom first.
            // The image is reused while it has the same size and nobody else holds it.
            if (m_hPicture.width() != width || m_hPicture.height() != height ||
                !m_hPicture.isDetached())
                m_hPicture = QImage(width, height, QImage::Format_RGB32);
            if (!m_hPicture.isNull()) {
                const int stride = picture->linesize[0];
                const std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
                for (int y = 0; y < height; ++y)
                    std::memcpy(m_hPicture.scanLine(height - 1 - y),
                                picture->data[0] + static_cast<std::ptrdiff_t>(y) * stride,
                                rowBytes);
                m_counters.shown.fetch_add(1, std::memory_order_relaxed);
            }
        }
    }
    QMetaObject::invokeMethod(m_videoArea, qOverload<>(&QWidget::update), Qt::QueuedConnection);
    return 0;
}

void CShowVideoDlg::paintVideoArea(QPainter& painter, const QRect& area) {
    if (window()->isMinimized())
        return;
    if (!m_bPlaying.load()) {
        painter.drawImage(area, monvid::idlePicture());
        std::lock_guard lock(m_csPicture);
        m_hPicture = QImage();
        return;
    }
    std::lock_guard lock(m_csPicture);
    if (!m_hPicture.isNull())
        painter.drawImage(area, m_hPicture, QRect(0, 0, m_nPicWidth, m_nPicHeight));
}

void CShowVideoDlg::setPlayingFromRun(const std::atomic<bool>& quit, bool value) {
    std::lock_guard lock(m_flagLock);
    if (quit.load())
        return;
    // The start gate may not undo a stop that came in after the thread's last run ended.
    if (value && m_bStopRequested.load())
        return;
    m_bPlaying.store(value);
}

void CShowVideoDlg::RequestStop() {
    std::lock_guard lock(m_flagLock);
    m_bStopRequested.store(true);
    m_bPlaying.store(false);
}

bool CShowVideoDlg::dropPicture() {
    std::lock_guard lock(m_csPicture);
    const bool had = !m_hPicture.isNull();
    m_hPicture = QImage();
    return had;
}

void CShowVideoDlg::finishRun(const PlayThread& self, bool played) {
    {
        std::lock_guard lock(m_flagLock);
        // StartPlay or the close drops the picture of a thread that was told to quit; its
        // successor may already be showing pictures of its own.
        if (self.quit.load())
            return;
        m_bStopRequested.store(false);
    }
    // Whether the run played to its end or could not begin, the last picture it (or a run
    // before it) left is not kept: the window falls back to its idle picture.
    if (!dropPicture() && !played)
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_videoArea->update();
            update();
            if (QWidget* grid = parentWidget())
                grid->update();
        },
        Qt::QueuedConnection);
}

void CShowVideoDlg::StartPlay() {
    reapAbandoned(false);
    if (m_hThread)
        stopThread(std::move(m_hThread), kRestartWaitMs);
    // The replaced thread leaves the window alone: its picture belongs to the old address.
    if (dropPicture())
        m_videoArea->update();
    {
        std::lock_guard lock(m_flagLock);
        m_bStopRequested.store(false);  // a stop before this start is behind it
    }
    auto thread = std::make_unique<PlayThread>();
    PlayThread& self = *thread;
    m_nLiveThreads.fetch_add(1);
    try {
        self.thread = m_startThread([this, &self] { PlayThreadProc(self); });
    } catch (const std::exception&) {
        // No thread (std::system_error when the system has none to give): the window stays
        // idle and the host is not told, as with any other failure to play.
        m_nLiveThreads.fetch_sub(1);
        return;
    }
    m_hThread = std::move(thread);
}

void CShowVideoDlg::OnClose() {
    if (m_hThread)
        stopThread(std::move(m_hThread), kCloseWaitMs);
    reapAbandoned(false);
    if (dropPicture())
        m_videoArea->update();
}

void CShowVideoDlg::closeEvent(QCloseEvent* event) {
    OnClose();
    event->accept();
}

void CShowVideoDlg::stopThread(std::unique_ptr<PlayThread> thread, int timeoutMs) {
    {
        std::lock_guard lock(m_flagLock);
        thread->quit.store(true);
        m_bPlaying.store(false);
    }
    thread->doneChanged.notify_all();  // cuts a pause between runs short
    bool done;
    {
        std::unique_lock lock(thread->doneLock);
        done = thread->doneChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                            [&] { return thread->done; });
    }
    if (done)
        thread->thread.join();
    else
        m_abandoned.push_back(std::move(thread));
}

void CShowVideoDlg::reapAbandoned(bool waitForAll) {
    for (auto it = m_abandoned.begin(); it != m_abandoned.end();) {
        bool done;
        {
            std::lock_guard lock((*it)->doneLock);
            done = (*it)->done;
        }
        if (done || waitForAll) {
            (*it)->thread.join();
            it = m_abandoned.erase(it);
        } else {
            ++it;
        }
    }
}

void CShowVideoDlg::PlayThreadProc(PlayThread& self) {
    do {
        bool played = false;
        try {
            played = RunOnce(self);
        } catch (...) {
            // RunOnce catches what it can; anything that still escapes ends the run here.
            if (isShownForPlay())
                setPlayingFromRun(self.quit, false);
            finishRun(self, false);
        }
        if (!played && !self.quit.load()) {
            std::unique_lock lock(self.doneLock);
            self.doneChanged.wait_for(lock, kFailedRunPause, [&] { return self.quit.load(); });
        }
    } while (m_bReplay.load() && !self.quit.load());

    m_nLiveThreads.fetch_sub(1);
    std::lock_guard lock(self.doneLock);
    self.done = true;
    self.doneChanged.notify_all();
}

bool CShowVideoDlg::RunOnce(PlayThread& self) {
    bool played = false;
    try {
        const std::string address = url();
        m_counters.runs.fetch_add(1, std::memory_order_relaxed);
        played = m_pPlayer->Play(address, self.quit);
        if (played && isShownForPlay())
            setPlayingFromRun(self.quit, false);
    } catch (const std::exception&) {
        if (isShownForPlay())
            setPlayingFromRun(self.quit, false);
    }
    finishRun(self, played);
    return played;
}
