// Identity of the control library: class identifiers, ProgIDs, names and status bits.
#pragma once

#include <QtGlobal>

#include <cstdint>

#include "Guid.h"

namespace monvid {

inline const component::Guid kTypeLibId =
    *component::Guid::parse("{A1761253-B3AA-4075-9E52-CE601C45AF2D}");
inline const component::Guid kDispatchIid =
    *component::Guid::parse("{7FF579A0-9526-4D7F-B6AE-7D2D6FAC2C48}");
inline const component::Guid kEventsIid =
    *component::Guid::parse("{1772525E-5A80-49FC-98AA-8EA4C2FF61BF}");
inline const component::Guid kControlClsid =
    *component::Guid::parse("{C979313E-99A1-467A-8715-85F91ABF8F95}");
inline const component::Guid kPropPageClsid =
    *component::Guid::parse("{1008E962-5171-4C04-B040-237E4BAD334A}");

inline constexpr const char* kControlProgId = "MONVID.MonvidCtrl.1";
inline constexpr const char* kPropPageProgId = "MONVID.MonvidPropPage.1";
inline constexpr const char* kControlTypeName = "Monvid Control";         // string 1
inline constexpr const char* kPropPageTypeName = "Monvid Property Page";  // string 2
// string 200, translated in the context of the page
inline constexpr const char* kPropPageCaption = QT_TRANSLATE_NOOP("CMonvidPropPage", "常规");
inline constexpr const char* kThreadingModel = "Apartment";
// Activate when visible, set client site first, inside-out, cannot link inside, recompose on
// resize.
inline constexpr std::uint32_t kMiscStatus = 0x20191;
inline constexpr std::uint32_t kControlVersion = 0x00010000;  // 1.0, the persisted version word
inline constexpr int kTypeLibMajor = 1;
inline constexpr int kTypeLibMinor = 0;
inline constexpr std::uint32_t kTypeLibLocale = 0x0409;

// Dispatch ids of _DMonvid.
enum DispId : std::int32_t {
    DISPID_SetWindStyle = 1,
    DISPID_StopPlay = 2,
    DISPID_startplayurl = 3,
    DISPID_SetViewTitle = 4,
    DISPID_PicturesPath = 5,
    DISPID_SetPicPath = 6,
    DISPID_CapturePic = 7,
    DISPID_GetActiveWnd = 8,
    DISPID_SetReplay = 9,
};

}  // namespace monvid
