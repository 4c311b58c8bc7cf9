#include "Monvidctrl1.h"

#include <QWidget>

#include "Registration.h"

using namespace component;

namespace {
// Dispatch ids of the control's interface.
enum : std::int32_t {
    kSetWindStyle = 1,
    kStopPlay = 2,
    kStartPlayUrl = 3,
    kSetViewTitle = 4,
    kPicturesPath = 5,
    kSetPicPath = 6,
    kCapturePic = 7,
    kGetActiveWnd = 8,
    kSetReplay = 9,
};
}  // namespace

bool CMonvidctrl1::Create(QWidget* parent) {
    m_control = createControl(kClsid, parent, &m_lastError, &m_lastDetail);
    return m_control != nullptr;
}

std::string CMonvidctrl1::lastErrorText() const {
    return describeResult(m_lastError);
}

QVariant CMonvidctrl1::invoke(std::int32_t dispid, int flags, const QVariantList& args) {
    if (!m_control)
        return {};
    QVariant result;
    m_lastError = m_control->Invoke(dispid, flags, args, &result);
    return result;
}

void CMonvidctrl1::SetWindStyle(std::uint16_t nStyle) {
    invoke(kSetWindStyle, DISPATCH_METHOD, {QVariant::fromValue<quint16>(nStyle)});
}

void CMonvidctrl1::StopPlay(std::int32_t nWindow) {
    invoke(kStopPlay, DISPATCH_METHOD, {QVariant::fromValue<qint32>(nWindow)});
}

std::int16_t CMonvidctrl1::startplayurl(const QByteArray& strUrl, std::int16_t nWindow) {
    return invoke(kStartPlayUrl, DISPATCH_METHOD, {strUrl, QVariant::fromValue<qint16>(nWindow)})
        .value<qint16>();
}

std::int16_t CMonvidctrl1::SetViewTitle(std::int16_t nWindow, const QByteArray& title) {
    return invoke(kSetViewTitle, DISPATCH_METHOD, {QVariant::fromValue<qint16>(nWindow), title})
        .value<qint16>();
}

QString CMonvidctrl1::GetPicturesPath() {
    return invoke(kPicturesPath, DISPATCH_PROPERTYGET, {}).toString();
}

void CMonvidctrl1::SetPicturesPath(const QString& path) {
    invoke(kPicturesPath, DISPATCH_PROPERTYPUT, {path});
}

void CMonvidctrl1::SetPicPath(const QString& path) {
    invoke(kSetPicPath, DISPATCH_METHOD, {path});
}

std::int32_t CMonvidctrl1::CapturePic(std::int32_t nWindow) {
    return invoke(kCapturePic, DISPATCH_METHOD, {QVariant::fromValue<qint32>(nWindow)})
        .value<qint32>();
}

std::int32_t CMonvidctrl1::GetActiveWnd() {
    return invoke(kGetActiveWnd, DISPATCH_METHOD, {}).value<qint32>();
}

std::int16_t CMonvidctrl1::SetReplay(std::int16_t bReplay) {
    return invoke(kSetReplay, DISPATCH_METHOD, {QVariant::fromValue<qint16>(bReplay)})
        .value<qint16>();
}

void CMonvidctrl1::SetMaxDelay(int ms) {
    if (QWidget* control = window())
        control->setProperty("MaxDelayMs", ms);
}
