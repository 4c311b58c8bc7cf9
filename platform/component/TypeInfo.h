// Type descriptions: the members, dispatch ids and parameter types of a dispatch interface,
// embedded in a component library and written out when it registers.
#pragma once

#include <QVariant>

#include <cstdint>
#include <string>
#include <vector>

#include "Component.h"
#include "Guid.h"

namespace component {

// Parameter and result types as the dispatch interface declares them.
enum class VarType {
    Empty,  // no result
    I2,     // signed 16-bit
    UI2,    // unsigned 16-bit
    I4,     // signed 32-bit
    Str8,   // 8-bit zero-terminated string (QByteArray)
    Bstr,   // wide string (QString)
};

std::string varTypeName(
    VarType type);  // "short", "unsigned short", "long", "unsigned char*", "BSTR", "void"

struct ParamInfo {
    std::string name;
    VarType type;
};

enum class MemberKind { Method, Property };

struct MemberInfo {
    std::int32_t dispid;
    std::string name;
    MemberKind kind;
    std::vector<ParamInfo> params;  // methods; a property has none
    VarType result;                 // a property: its type
};

struct InterfaceInfo {
    std::string name;
    Guid iid;
    std::vector<MemberInfo> members;
    const MemberInfo* find(std::int32_t dispid) const;
};

struct TypeLibInfo {
    std::string name;
    Guid libid;
    int majorVersion;
    int minorVersion;
    std::uint32_t locale;
    std::vector<InterfaceInfo> interfaces;
};

// Checks one call against a member and converts its arguments to the declared types:
// the argument count (DISP_E_BADPARAMCOUNT), the kind of call (DISP_E_MEMBERNOTFOUND for a
// method called as a property and the other way round), each argument's type
// (DISP_E_TYPEMISMATCH; integers of any width convert when they fit, else DISP_E_OVERFLOW;
// strings must be of the declared kind). On success `converted` holds the arguments as
// qint16 / quint16 / qint32 / QByteArray / QString.
HRESULT checkInvoke(const MemberInfo& member, int flags, const QVariantList& args,
                    QVariantList& converted);

}  // namespace component
