// CMonvidctrl1: the viewer's wrapper of the video wall control. It creates the control by its
// class identifier through the component layer and calls it only by dispatch id, with the
// parameter types the control's dispatch interface declares. GUI thread only.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <string>

#include "Component.h"
#include "ComponentHost.h"

class CMonvidctrl1 {
  public:
    // The control's class identifier.
    static constexpr const char* kClsid = "{C979313E-99A1-467A-8715-85F91ABF8F95}";

    // Creates the control and its window as a child of `parent`; false (with the reason in
    // lastError() and lastErrorDetail()) when the control is not registered or cannot be made.
    bool Create(QWidget* parent);
    bool isCreated() const { return m_control != nullptr; }
    QWidget* window() const { return m_control ? m_control->controlWindow() : nullptr; }
    component::HRESULT lastError() const { return m_lastError; }
    std::string lastErrorText() const;  // "0x80040154, REGDB_E_CLASSNOTREG"
    // Why the last Create failed, in the component layer's words (the loader's message, the
    // registry file); empty after one that succeeded.
    const std::string& lastErrorDetail() const { return m_lastDetail; }

    void SetWindStyle(std::uint16_t nStyle);
    void StopPlay(std::int32_t nWindow);
    std::int16_t startplayurl(const QByteArray& strUrl, std::int16_t nWindow);
    std::int16_t SetViewTitle(std::int16_t nWindow, const QByteArray& title);
    QString GetPicturesPath();
    void SetPicturesPath(const QString& path);
    void SetPicPath(const QString& path);
    std::int32_t CapturePic(std::int32_t nWindow);
    std::int32_t GetActiveWnd();
    std::int16_t SetReplay(std::int16_t bReplay);
    // Latency cap of live windows in ms (0: off): the control window's "MaxDelayMs" property,
    // not a dispatch member, so a control that does not know it ignores it.
    void SetMaxDelay(int ms);

  private:
    QVariant invoke(std::int32_t dispid, int flags, const QVariantList& args);

    component::ControlPtr m_control;
    component::HRESULT m_lastError = component::S_OK;
    std::string m_lastDetail;
};
