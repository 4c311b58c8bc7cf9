// The control's type library: the dispatch interface _DMonvid, its members, dispatch ids and
// parameter types, as the library registers it and as Invoke checks calls against it.
#pragma once

#include "TypeInfo.h"

namespace monvid {

const component::TypeLibInfo& monvidTypeLib();
const component::InterfaceInfo& dispatchInterface();  // _DMonvid

}  // namespace monvid
