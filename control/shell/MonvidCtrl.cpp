#include "MonvidCtrl.h"

#include <QDynamicPropertyChangeEvent>
#include <QPainter>

#include "BitmapFile.h"
#include "ControlLanguage.h"
#include "MonvidIds.h"
#include "MonvidPropPage.h"
#include "MonvidTypeLib.h"
#include "Mydlg.h"

using namespace component;

std::atomic<int> CMonvidCtrl::s_liveObjects{0};

CMonvidWnd::CMonvidWnd(CMonvidCtrl& control, QWidget* parent)
    : QWidget(parent), m_control(control) {}

bool CMonvidWnd::event(QEvent* event) {
    if (event->type() == QEvent::DynamicPropertyChange &&
        static_cast<QDynamicPropertyChangeEvent*>(event)->propertyName() == kMaxDelayProperty) {
        bool ok = false;
        const int ms = property(kMaxDelayProperty).toInt(&ok);
        if (ok)
            m_control.SetMaxDelay(ms);
    }
    return QWidget::event(event);
}

void CMonvidWnd::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_control.OnSize();
}

void CMonvidWnd::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    m_control.OnSize();
}

void CMonvidWnd::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    m_control.OnDraw(painter, rect());
}

CMonvidCtrl::CMonvidCtrl() {
    s_liveObjects.fetch_add(1);
}

CMonvidCtrl::~CMonvidCtrl() {
    // The window (and with it the grid and its 16 windows, each ending its play thread) goes
    // with the control unless its parent has already taken it.
    delete m_pWnd.data();
    s_liveObjects.fetch_sub(1);
}

void CMonvidCtrl::Release() {
    delete this;
}

HRESULT CMonvidCtrl::CreateControlWindow(QWidget* parent) {
    if (m_pWnd)
        return E_FAIL;
    // Before any window exists, so that every text is made in the host's language.
    monvid::useControlLanguage();
    m_pWnd = new CMonvidWnd(*this, parent);
    return OnCreate() == 0 ? S_OK : E_FAIL;
}

int CMonvidCtrl::OnCreate() {
    m_grid = new CMydlg(m_pWnd);
    m_grid->setGeometry(m_pWnd->rect());
    m_grid->show();
    m_grid->LayoutWindows(4);
    bool ok = false;
    if (const int ms = m_pWnd->property(CMonvidWnd::kMaxDelayProperty).toInt(&ok); ok)
        m_grid->SetMaxDelayAll(ms);
    return 0;
}

void CMonvidCtrl::SetMaxDelay(int ms) {
    if (m_grid)
        m_grid->SetMaxDelayAll(ms);
}

void CMonvidCtrl::OnSize() {
    if (!m_grid || !m_pWnd)
        return;
    m_grid->show();
    m_grid->setGeometry(m_pWnd->rect());
}

void CMonvidCtrl::OnDraw(QPainter& painter, const QRect& bounds) {
    painter.fillRect(bounds, Qt::white);
    painter.setPen(Qt::black);
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(bounds.adjusted(0, 0, -1, -1));
}

HRESULT CMonvidCtrl::ShowProperties() {
    auto* page = new CMonvidPropPage(m_pWnd);
    page->setAttribute(Qt::WA_DeleteOnClose);
    page->open();
    return S_OK;
}

void CMonvidCtrl::SetWindStyle(std::uint16_t nStyle) {
    if (m_grid)
        m_grid->LayoutWindows(nStyle);
}

void CMonvidCtrl::StopPlay(std::int32_t nWindow) {
    if (!m_grid)
        return;
    CShowVideoDlg* window = m_grid->window(nWindow);
    if (!window)
        return;
    m_grid->SetReplayAll(false);
    // Under the window's flag lock, so that a run at its start gate cannot undo the stop.
    window->RequestStop();
}

std::int16_t CMonvidCtrl::startplayurl(const QByteArray& strUrl, std::int16_t nWindow) {
    if (CShowVideoDlg* window = m_grid ? m_grid->window(nWindow) : nullptr) {
        window->setUrl(strUrl.toStdString());
        window->StartPlay();
    }
    return 0;
}

std::int16_t CMonvidCtrl::SetViewTitle(std::int16_t nWindow, const QByteArray& title) {
    if (CShowVideoDlg* window = m_grid ? m_grid->window(nWindow) : nullptr) {
        window->SetTitle(QString::fromUtf8(title));
        window->m_strTitle = title.toStdString();
    }
    return 0;
}

QString CMonvidCtrl::GetPicturesPath() const {
    return QString::fromStdString(m_strPicturesPath);
}

void CMonvidCtrl::SetPicturesPath(const QString& path) {
    m_strPicturesPath = path.toStdString();
    SetModifiedFlag();
}

void CMonvidCtrl::SetPicPath(const QString& strPicPath) {
    m_strPicturesPath = strPicPath.toStdString();
}

std::int32_t CMonvidCtrl::CapturePic(std::int32_t nWindow) {
    if (CShowVideoDlg* window = m_grid ? m_grid->window(nWindow) : nullptr) {
        const std::string stamp = monvid::MakeTimeStamp();
        window->SavePicture(monvid::picturePath(m_strPicturesPath, window->m_strTitle, stamp));
    }
    return 0;
}

std::int32_t CMonvidCtrl::GetActiveWnd() const {
    if (!m_grid)
        return 0;
    for (int i = 0; i < CMydlg::kWindowCount; ++i)
        if (m_grid->window(i)->m_bActive)
            return i;
    return 0;
}

std::int16_t CMonvidCtrl::SetReplay(std::int16_t bReplay) {
    if (m_grid)
        m_grid->SetReplayAll(bReplay != 0);
    return 0;
}

QByteArray CMonvidCtrl::SaveState() const {
    QByteArray state(4, '\0');
    for (int i = 0; i < 4; ++i)
        state[i] = static_cast<char>((monvid::kControlVersion >> (8 * i)) & 0xFF);
    return state;
}

bool CMonvidCtrl::LoadState(const QByteArray& state) {
    if (state.size() < 4)
        return false;
    std::uint32_t version = 0;
    for (int i = 0; i < 4; ++i)
        version |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(state[i])) << (8 * i);
    // A later major version than this control's is refused; the pictures folder starts empty.
    if ((version >> 16) > (monvid::kControlVersion >> 16))
        return false;
    m_strPicturesPath.clear();
    return true;
}

HRESULT CMonvidCtrl::Invoke(std::int32_t dispid, int flags, const QVariantList& args,
                            QVariant* result) {
    using namespace monvid;
    const MemberInfo* member = dispatchInterface().find(dispid);
    if (!member)
        return DISP_E_MEMBERNOTFOUND;
    QVariantList a;
    if (const HRESULT hr = checkInvoke(*member, flags, args, a); FAILED(hr))
        return hr;
    QVariant value;
    switch (dispid) {
        case DISPID_SetWindStyle:
            SetWindStyle(a[0].value<quint16>());
            break;
        case DISPID_StopPlay:
            StopPlay(a[0].value<qint32>());
            break;
        case DISPID_startplayurl:
            value =
                QVariant::fromValue<qint16>(startplayurl(a[0].toByteArray(), a[1].value<qint16>()));
            break;
        case DISPID_SetViewTitle:
            value =
                QVariant::fromValue<qint16>(SetViewTitle(a[0].value<qint16>(), a[1].toByteArray()));
            break;
        case DISPID_PicturesPath:
            if (flags & DISPATCH_PROPERTYPUT)
                SetPicturesPath(a[0].toString());
            else
                value = GetPicturesPath();
            break;
        case DISPID_SetPicPath:
            SetPicPath(a[0].toString());
            break;
        case DISPID_CapturePic:
            value = QVariant::fromValue<qint32>(CapturePic(a[0].value<qint32>()));
            break;
        case DISPID_GetActiveWnd:
            value = QVariant::fromValue<qint32>(GetActiveWnd());
            break;
        case DISPID_SetReplay:
            value = QVariant::fromValue<qint16>(SetReplay(a[0].value<qint16>()));
            break;
        default:
            return DISP_E_MEMBERNOTFOUND;
    }
    if (result)
        *result = value;
    return S_OK;
}
