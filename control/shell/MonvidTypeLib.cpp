#include "MonvidTypeLib.h"

#include "MonvidIds.h"

namespace monvid {

using component::MemberKind;
using component::VarType;

const component::TypeLibInfo& monvidTypeLib() {
    static const component::TypeLibInfo typeLib{
        "MonvidLib",
        kTypeLibId,
        kTypeLibMajor,
        kTypeLibMinor,
        kTypeLibLocale,
        {
            {"_DMonvid",
             kDispatchIid,
             {
                 {DISPID_SetWindStyle,
                  "SetWindStyle",
                  MemberKind::Method,
                  {{"nStyle", VarType::UI2}},
                  VarType::Empty},
                 {DISPID_StopPlay,
                  "StopPlay",
                  MemberKind::Method,
                  {{"nWindow", VarType::I4}},
                  VarType::Empty},
                 {DISPID_startplayurl,
                  "startplayurl",
                  MemberKind::Method,
                  {{"strUrl", VarType::Str8}, {"nWindow", VarType::I2}},
                  VarType::I2},
                 {DISPID_SetViewTitle,
                  "SetViewTitle",
                  MemberKind::Method,
                  {{"nWindow", VarType::I2}, {"title", VarType::Str8}},
                  VarType::I2},
                 {DISPID_PicturesPath, "PicturesPath", MemberKind::Property, {}, VarType::Bstr},
                 {DISPID_SetPicPath,
                  "SetPicPath",
                  MemberKind::Method,
                  {{"strPicPath", VarType::Bstr}},
                  VarType::Empty},
                 {DISPID_CapturePic,
                  "CapturePic",
                  MemberKind::Method,
                  {{"nWindow", VarType::I4}},
                  VarType::I4},
                 {DISPID_GetActiveWnd, "GetActiveWnd", MemberKind::Method, {}, VarType::I4},
                 {DISPID_SetReplay,
                  "SetReplay",
                  MemberKind::Method,
                  {{"bReplay", VarType::I2}},
                  VarType::I2},
             }},
            {"_DMonvidEvents", kEventsIid, {}},
        }};
    return typeLib;
}

const component::InterfaceInfo& dispatchInterface() {
    return monvidTypeLib().interfaces.front();
}

}  // namespace monvid
