#include "TypeInfo.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>

#include <limits>

namespace component {

namespace {

// An integer argument of any width, or nothing when the value is not an integer.
struct IntegerValue {
    bool isInteger = false;
    bool isUnsignedLarge = false;  // above the range of qint64
    qint64 value = 0;
};

IntegerValue integerOf(const QVariant& arg) {
    IntegerValue result;
    switch (arg.metaType().id()) {
        case QMetaType::Bool:
            result.isInteger = true;
            result.value = arg.toBool() ? 1 : 0;
            break;
        case QMetaType::Char:
        case QMetaType::SChar:
        case QMetaType::Short:
        case QMetaType::Int:
        case QMetaType::Long:
        case QMetaType::LongLong:
            result.isInteger = true;
            result.value = arg.toLongLong();
            break;
        case QMetaType::UChar:
        case QMetaType::UShort:
        case QMetaType::UInt:
        case QMetaType::ULong:
        case QMetaType::ULongLong: {
            const qulonglong value = arg.toULongLong();
            result.isInteger = true;
            if (value > static_cast<qulonglong>(std::numeric_limits<qint64>::max()))
                result.isUnsignedLarge = true;
            else
                result.value = static_cast<qint64>(value);
            break;
        }
        default:
            break;
    }
    return result;
}

HRESULT convertInteger(const QVariant& arg, qint64 low, qint64 high, qint64& value) {
    const IntegerValue integer = integerOf(arg);
    if (!integer.isInteger)
        return DISP_E_TYPEMISMATCH;
    if (integer.isUnsignedLarge || integer.value < low || integer.value > high)
        return DISP_E_OVERFLOW;
    value = integer.value;
    return S_OK;
}

HRESULT convertArgument(const QVariant& arg, VarType type, QVariant& out) {
    if (!arg.isValid())
        return DISP_E_PARAMNOTOPTIONAL;
    qint64 value = 0;
    HRESULT hr = S_OK;
    switch (type) {
        case VarType::I2:
            hr = convertInteger(arg, std::numeric_limits<qint16>::min(),
                                std::numeric_limits<qint16>::max(), value);
            if (SUCCEEDED(hr))
                out = QVariant::fromValue(static_cast<qint16>(value));
            return hr;
        case VarType::UI2:
            hr = convertInteger(arg, 0, std::numeric_limits<quint16>::max(), value);
            if (SUCCEEDED(hr))
                out = QVariant::fromValue(static_cast<quint16>(value));
            return hr;
        case VarType::I4:
            hr = convertInteger(arg, std::numeric_limits<qint32>::min(),
                                std::numeric_limits<qint32>::max(), value);
            if (SUCCEEDED(hr))
                out = QVariant::fromValue(static_cast<qint32>(value));
            return hr;
        case VarType::Str8:
            if (arg.metaType().id() != QMetaType::QByteArray)
                return DISP_E_TYPEMISMATCH;
            out = QVariant::fromValue(arg.toByteArray());
            return S_OK;
        case VarType::Bstr:
            if (arg.metaType().id() != QMetaType::QString)
                return DISP_E_TYPEMISMATCH;
            out = QVariant::fromValue(arg.toString());
            return S_OK;
        case VarType::Empty:
            break;
    }
    return DISP_E_TYPEMISMATCH;
}

}  // namespace

std::string varTypeName(VarType type) {
    switch (type) {
        case VarType::Empty:
            return "void";
        case VarType::I2:
            return "short";
        case VarType::UI2:
            return "unsigned short";
        case VarType::I4:
            return "long";
        case VarType::Str8:
            return "unsigned char*";
        case VarType::Bstr:
            return "BSTR";
    }
    return "void";
}

const MemberInfo* InterfaceInfo::find(std::int32_t dispid) const {
    for (const MemberInfo& member : members) {
        if (member.dispid == dispid)
            return &member;
    }
    return nullptr;
}

HRESULT checkInvoke(const MemberInfo& member, int flags, const QVariantList& args,
                    QVariantList& converted) {
    converted.clear();
    std::vector<VarType> expected;
    if (member.kind == MemberKind::Method) {
        if (!(flags & DISPATCH_METHOD))
            return DISP_E_MEMBERNOTFOUND;
        for (const ParamInfo& param : member.params)
            expected.push_back(param.type);
    } else if (flags & DISPATCH_PROPERTYPUT) {
        expected.push_back(member.result);
    } else if (!(flags & DISPATCH_PROPERTYGET)) {
        return DISP_E_MEMBERNOTFOUND;
    }
    if (static_cast<std::size_t>(args.size()) != expected.size())
        return DISP_E_BADPARAMCOUNT;
    QVariantList out;
    out.reserve(args.size());
    for (qsizetype i = 0; i < args.size(); ++i) {
        QVariant value;
        if (const HRESULT hr =
                convertArgument(args[i], expected[static_cast<std::size_t>(i)], value);
            FAILED(hr))
            return hr;
        out.push_back(std::move(value));
    }
    converted = std::move(out);
    return S_OK;
}

}  // namespace component
