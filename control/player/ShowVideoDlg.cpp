#include "ShowVideoDlg.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScreen>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "BitmapFile.h"
#include "ColorStaticST.h"
#include "IdlePicture.h"
#include "PictureConverter.h"
#include "ReconnectPolicy.h"
#include "StreamPlayer.h"
#include "VideoGrid.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace {
// A wait between runs looks at the replay flag this often (the shell writes it directly).
constexpr auto kReplayLookInterval = std::chrono::milliseconds(200);
constexpr auto kHealthRefresh = std::chrono::milliseconds(1000);
constexpr std::size_t kHealthSamples = 3;  // figures are taken over the last two seconds

std::uint64_t packSize(QSize size) {
    return static_cast<std::uint64_t>(std::max(size.width(), 0)) << 32 |
           static_cast<std::uint32_t>(std::max(size.height(), 0));
}
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
    // Pictures are converted at the screen's own pixels: on a scaled screen (a ratio of 2 on a
    // 4K monitor) the area covers more pixels than its size in the layout's units.
    const qreal ratio = m_videoArea->devicePixelRatioF();
    const QSize pixels(qRound(m_videoArea->width() * ratio), qRound(m_videoArea->height() * ratio));
    m_targetSize.store(packSize(pixels), std::memory_order_relaxed);
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
    // A thread waiting between runs of a hidden window begins its next one now.
    m_nWakes.fetch_add(1);
    if (m_hThread)
        wakeThread(*m_hThread);
}

void CShowVideoDlg::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    m_bShown.store(isVisible(), std::memory_order_release);
}

void CShowVideoDlg::Activate() {
    if (auto* grid = dynamic_cast<IVideoGrid*>(parentWidget()))
        grid->DeactivateAll();
    m_bActive = true;
    m_stTitle->SetBkColor(titleColour(true));
    layoutItems();
    m_stTitle->update();
}

void CShowVideoDlg::Deactivate() {
    m_stTitle->SetBkColor(titleColour(false));
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
    monvid::FramePtr source;
    {
        // The mark is set and the picture taken under the picture lock, so that no
        // replacement that began before the mark can be under way while it is read.
        std::lock_guard lock(m_csPicture);
        if (m_hPicture.isNull())
            return false;
        m_bCapturing = true;
        if (m_lastFrame)
            source.reset(av_frame_clone(m_lastFrame.get()));
        else
            picture = m_hPicture;
    }
    // The mark comes off on every way out: a mark left set would drop every later picture.
    struct ClearMark {
        std::atomic<bool>& mark;
        ~ClearMark() { mark = false; }
    } clearMark{m_bCapturing};
    // The painted picture has the video area's size: the file gets the stream's own, made
    // from the decoded picture it came from.
    if (source)
        picture = monvid::frameToImage(source.get());
    if (picture.isNull())
        return false;
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
    monvid::FramePtr source;
    {
        std::lock_guard lock(m_csPicture);
        if (m_hPicture.isNull())
            return {};
        if (!m_lastFrame)
            return m_hPicture.copy();
        source.reset(av_frame_clone(m_lastFrame.get()));
    }
    return monvid::frameToImage(source.get());
}

QImage CShowVideoDlg::shownPicture() const {
    std::lock_guard lock(m_csPicture);
    return m_hPicture.copy();
}

QSize CShowVideoDlg::pictureTarget() const {
    const std::uint64_t packed = m_targetSize.load(std::memory_order_relaxed);
    return QSize(static_cast<int>(packed >> 32), static_cast<int>(packed & 0xFFFFFFFFu));
}

bool CShowVideoDlg::offerPicture(QImage& picture, const AVFrame* source) {
    bool kept = false;
    {
        std::lock_guard lock(m_csPicture);
        if (m_bCapturing.load() || !m_bPlaying.load() || picture.isNull()) {
            m_counters.droppedBusy.fetch_add(1, std::memory_order_relaxed);
            m_counters.dropped.fetch_add(1, std::memory_order_relaxed);
        } else {
            m_nPicWidth = source ? source->width : picture.width();
            m_nPicHeight = source ? source->height : picture.height();
            std::swap(m_hPicture, picture);
            if (source) {
                if (!m_lastFrame)
                    m_lastFrame.reset(av_frame_alloc());
                else
                    av_frame_unref(m_lastFrame.get());
                if (m_lastFrame && av_frame_ref(m_lastFrame.get(), source) < 0)
                    m_lastFrame.reset();
            } else {
                m_lastFrame.reset();
            }
            m_lastPictureAt = std::chrono::system_clock::now();
            m_counters.shown.fetch_add(1, std::memory_order_relaxed);
            kept = true;
        }
    }
    QMetaObject::invokeMethod(m_videoArea, qOverload<>(&QWidget::update), Qt::QueuedConnection);
    return kept;
}

int CShowVideoDlg::ShowPicture(const AVFrame* picture, int width, int height, int /*reserved*/,
                               int bitsPerPixel) {
    {
        std::lock_guard lock(m_csPicture);
        if (m_bCapturing.load() || !m_bPlaying.load() || bitsPerPixel != 32 || width <= 0 ||
            height <= 0) {
            m_counters.droppedBusy.fetch_add(1, std::memory_order_relaxed);
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
                m_lastFrame.reset();
                m_lastPictureAt = std::chrono::system_clock::now();
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
    const QStringList badge = badgeText();
    bool idle = !m_bPlaying.load();
    if (idle) {
        std::lock_guard lock(m_csPicture);
        m_hPicture = QImage();
        m_lastFrame.reset();
    } else {
        std::lock_guard lock(m_csPicture);
        if (!m_hPicture.isNull()) {
            // Pictures come at the area's size in device pixels, which drawn into the area
            // cover its pixels one to one; only one from before a resize is scaled.
            if (m_hPicture.size() == area.size())
                painter.drawImage(area.topLeft(), m_hPicture);
            else
                painter.drawImage(area, m_hPicture);
        } else {
            // Connecting again after a loss: the badge stays up until the first picture.
            idle = !badge.isEmpty();
        }
    }
    if (idle) {
        painter.drawImage(area, monvid::idlePictureToPaint());
        monvid::drawLostBadge(painter, area, badge);
    }
    if (m_bHealthOverlay)
        monvid::drawHealthOverlay(painter, area, healthText());
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
    {
        std::lock_guard lock(m_flagLock);
        m_bStopRequested.store(true);
        m_bPlaying.store(false);
    }
    clearLinkLoss();
    if (m_hThread)
        wakeThread(*m_hThread);
}

bool CShowVideoDlg::dropPicture() {
    std::lock_guard lock(m_csPicture);
    const bool had = !m_hPicture.isNull();
    m_hPicture = QImage();
    m_lastFrame.reset();
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
    clearLinkLoss();  // the badge belonged to the old address
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
    clearLinkLoss();
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
    wakeThread(*thread);  // cuts a wait between runs short
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

void CShowVideoDlg::wakeThread(PlayThread& thread) {
    // Taking the lock orders the wake after the waiter's look at its flags.
    { std::lock_guard lock(thread.doneLock); }
    thread.doneChanged.notify_all();
}

void CShowVideoDlg::waitBeforeNextRun(PlayThread& self, std::chrono::milliseconds wait) {
    const unsigned wakes = m_nWakes.load();
    const auto due = std::chrono::steady_clock::now() + wait;
    std::unique_lock lock(self.doneLock);
    auto over = [&] {
        return self.quit.load() || m_bStopRequested.load() || !m_bReplay.load() ||
               m_nWakes.load() != wakes;
    };
    while (!over()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= due)
            return;
        self.doneChanged.wait_for(
            lock, std::min<std::chrono::steady_clock::duration>(due - now, kReplayLookInterval));
    }
}

void CShowVideoDlg::PlayThreadProc(PlayThread& self) {
    monvid::ReconnectPolicy policy;
    do {
        RunOutcome outcome;
        try {
            RunOnce(self, outcome);
        } catch (...) {
            // RunOnce catches what it can; anything that still escapes ends the run here.
            if (isShownForPlay())
                setPlayingFromRun(self.quit, false);
            finishRun(self, false);
        }
        if (self.quit.load())
            break;
        const auto wait = policy.runEnded(outcome.picturesShown > 0);
        const bool retrying = m_bReplay.load();
        noteRunEnded(self, outcome, retrying, wait);
        if (retrying && wait.count() > 0)
            waitBeforeNextRun(self, wait);
    } while (m_bReplay.load() && !self.quit.load());
    if (!self.quit.load())
        setRetrying(false);  // replay went off: no next try is coming

    m_nLiveThreads.fetch_sub(1);
    std::lock_guard lock(self.doneLock);
    self.done = true;
    self.doneChanged.notify_all();
}

bool CShowVideoDlg::RunOnce(PlayThread& self, RunOutcome& outcome) {
    bool played = false;
    setRetrying(false);  // the try is now
    try {
        const std::string address = url();
        m_counters.runs.fetch_add(1, std::memory_order_relaxed);
        played = m_pPlayer->Play(address, self.quit, outcome);
        if (played && isShownForPlay())
            setPlayingFromRun(self.quit, false);
    } catch (const std::exception&) {
        if (isShownForPlay())
            setPlayingFromRun(self.quit, false);
    }
    finishRun(self, played);
    return played;
}

void CShowVideoDlg::noteRunEnded(const PlayThread& self, const RunOutcome& outcome, bool retrying,
                                 std::chrono::milliseconds wait) {
    // A run that was stopped, and a stored file that played to its end, lost nothing.
    const bool fileEnded = !outcome.live && outcome.played && outcome.error == AVERROR_EOF;
    if (outcome.stoppedByUs || fileEnded || self.quit.load())
        return;
    std::chrono::system_clock::time_point lastPicture;
    {
        std::lock_guard lock(m_csPicture);
        lastPicture = m_lastPictureAt;
    }
    const auto now = std::chrono::system_clock::now();
    {
        std::lock_guard lock(m_statusLock);
        if (!m_loss.lost) {
            m_loss.lost = true;
            // Lost since the last picture of the run that just ended, or since now.
            m_loss.since = outcome.picturesShown > 0 ? lastPicture : now;
        }
        m_loss.reason = monvid::lossReasonFor(outcome.error);
        m_loss.detail = monvid::ffmpegErrorText(outcome.error);
        m_loss.retrying = retrying;
        m_loss.nextTry = now + wait;
    }
    QMetaObject::invokeMethod(
        this, [this] { linkStatusChanged(); }, Qt::QueuedConnection);
}

void CShowVideoDlg::linkRestored() {
    {
        std::lock_guard lock(m_statusLock);
        if (!m_loss.lost)
            return;
        m_loss = {};
    }
    QMetaObject::invokeMethod(
        this, [this] { linkStatusChanged(); }, Qt::QueuedConnection);
}

void CShowVideoDlg::clearLinkLoss() {
    bool was;
    {
        std::lock_guard lock(m_statusLock);
        was = m_loss.lost;
        m_loss = {};
    }
    if (was)
        linkStatusChanged();
}

void CShowVideoDlg::setRetrying(bool retrying) {
    {
        std::lock_guard lock(m_statusLock);
        if (!m_loss.lost || m_loss.retrying == retrying)
            return;
        m_loss.retrying = retrying;
    }
    QMetaObject::invokeMethod(
        this, [this] { linkStatusChanged(); }, Qt::QueuedConnection);
}

void CShowVideoDlg::linkStatusChanged() {
    m_stTitle->SetBkColor(titleColour(m_bActive));
    m_videoArea->update();
}

std::uint32_t CShowVideoDlg::titleColour(bool active) const {
    if (linkLoss().lost)
        return active ? kLostActiveBk : kLostBk;
    return active ? CColorStaticST::kActiveBk : CColorStaticST::kInactiveBk;
}

monvid::LinkLoss CShowVideoDlg::linkLoss() const {
    std::lock_guard lock(m_statusLock);
    return m_loss;
}

QStringList CShowVideoDlg::badgeText() const {
    return monvid::badgeLines(linkLoss(), std::chrono::system_clock::now());
}

void CShowVideoDlg::streamOpened(const StreamFacts& facts) {
    std::lock_guard lock(m_statusLock);
    m_facts = facts;
}

void CShowVideoDlg::SetHealthOverlay(bool on) {
    if (on == m_bHealthOverlay)
        return;
    m_bHealthOverlay = on;
    if (!m_healthTimer) {
        m_healthTimer = new QTimer(this);
        m_healthTimer->setInterval(kHealthRefresh);
        connect(m_healthTimer, &QTimer::timeout, this, &CShowVideoDlg::refreshHealth);
    }
    m_healthSamples.clear();
    if (on) {
        refreshHealth();
        m_healthTimer->start();
    } else {
        m_healthTimer->stop();
    }
    m_videoArea->update();
}

void CShowVideoDlg::refreshHealth() {
    m_healthSamples.push_back(monvid::sampleCounters(m_counters, std::chrono::steady_clock::now()));
    while (m_healthSamples.size() > kHealthSamples)
        m_healthSamples.pop_front();
    StreamFacts facts;
    {
        std::lock_guard lock(m_statusLock);
        facts = m_facts;
    }
    m_healthFigures = monvid::healthFigures(m_healthSamples.front(), m_healthSamples.back(), facts);
    m_videoArea->update();
}

QMenu* CShowVideoDlg::makeContextMenu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    QAction* health = menu->addAction(tr("显示状态信息"));
    health->setCheckable(true);
    health->setChecked(m_bHealthOverlay);
    connect(health, &QAction::toggled, this, &CShowVideoDlg::SetHealthOverlay);
    return menu;
}

void CShowVideoDlg::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = makeContextMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
    event->accept();
}
