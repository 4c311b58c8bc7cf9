// Identifiers in their registry form, and the checks and conversions every Invoke starts with.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>

#include <limits>

#include "Guid.h"
#include "TypeInfo.h"

using namespace component;

TEST(Guid, ParsesAndPrintsTheRegistryForm) {
    const auto guid = Guid::parse("{c979313e-99a1-467a-8715-85f91abf8f95}");
    ASSERT_TRUE(guid);
    EXPECT_EQ(guid->data1, 0xC979313Eu);
    EXPECT_EQ(guid->data2, 0x99A1u);
    EXPECT_EQ(guid->data3, 0x467Au);
    EXPECT_EQ(guid->data4[0], 0x87u);
    EXPECT_EQ(guid->data4[1], 0x15u);
    EXPECT_EQ(guid->data4[7], 0x95u);
    EXPECT_EQ(guid->toString(), "{C979313E-99A1-467A-8715-85F91ABF8F95}");
    EXPECT_EQ(Guid::parse(guid->toString()), guid);
    EXPECT_EQ(Guid().toString(), "{00000000-0000-0000-0000-000000000000}");
    EXPECT_EQ(IID_IDispatch.toString(), "{00020400-0000-0000-C000-000000000046}");

    const auto max = Guid::parse("{FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}");
    ASSERT_TRUE(max);
    EXPECT_EQ(max->data1, 0xFFFFFFFFu);
    EXPECT_NE(*max, *guid);
}

TEST(Guid, RejectsEverythingElse) {
    for (const char* text : {
             "", "{}",
             "C979313E-99A1-467A-8715-85F91ABF8F95",      // no braces
             "{C979313E-99A1-467A-8715-85F91ABF8F95",     // one missing
             "{C979313E-99A1-467A-8715-85F91ABF8F95} ",   // trailing blank
             " {C979313E-99A1-467A-8715-85F91ABF8F95}",   // leading blank
             "{C979313E-99A1-467A-8715-85F91ABF8F9}",     // one digit short
             "{C979313E-99A1-467A-8715-85F91ABF8F950}",   // one too many
             "{C979313E-99A1-467A-8715-85F91ABF8F9G}",    // not hex
             "{C979313E099A1-467A-8715-85F91ABF8F95}",    // dash missing
             "{C979313E-99A1-467A-871-585F91ABF8F95}",    // dash moved
             "{+979313E-99A1-467A-8715-85F91ABF8F95}",    // sign
             "(C979313E-99A1-467A-8715-85F91ABF8F95)",    // other brackets
             "{C979313E-99A1-467A-8715-85F91ABF8F95}\n",  // line end
         }) {
        EXPECT_FALSE(Guid::parse(text)) << text;
    }
    EXPECT_FALSE(Guid::parse(std::string_view("{C979313E-99A1-467A-8715-85F91ABF8F9\0}", 38)));
}

namespace {

const InterfaceInfo& sampleInterface() {
    static const InterfaceInfo info{
        "_DSample",
        *Guid::parse("{7FF579A0-9526-4D7F-B6AE-7D2D6FAC2C48}"),
        {
            {1, "SetWindStyle", MemberKind::Method, {{"nStyle", VarType::UI2}}, VarType::Empty},
            {2, "StopPlay", MemberKind::Method, {{"nWindow", VarType::I4}}, VarType::Empty},
            {3,
             "startplayurl",
             MemberKind::Method,
             {{"strUrl", VarType::Str8}, {"nWindow", VarType::I2}},
             VarType::I2},
            {5, "PicturesPath", MemberKind::Property, {}, VarType::Bstr},
            {6, "SetPicPath", MemberKind::Method, {{"strPicPath", VarType::Bstr}}, VarType::Empty},
            {8, "GetActiveWnd", MemberKind::Method, {}, VarType::I4},
        }};
    return info;
}

const MemberInfo& member(std::int32_t dispid) {
    return *sampleInterface().find(dispid);
}

HRESULT check(std::int32_t dispid, int flags, const QVariantList& args,
              QVariantList* out = nullptr) {
    QVariantList converted;
    const HRESULT hr = checkInvoke(member(dispid), flags, args, converted);
    if (out)
        *out = converted;
    return hr;
}

}  // namespace

TEST(CheckInvoke, ConvertsArgumentsToTheDeclaredTypes) {
    QVariantList out;
    ASSERT_EQ(check(3, DISPATCH_METHOD, {QByteArray("rtsp://x"), 5}, &out), S_OK);
    ASSERT_EQ(out.size(), 2);
    EXPECT_EQ(out[0].metaType().id(), QMetaType::QByteArray);
    EXPECT_EQ(out[1].metaType(), QMetaType::fromType<qint16>());
    EXPECT_EQ(out[1].value<qint16>(), 5);

    // Integers of any width convert when they fit.
    ASSERT_EQ(check(1, DISPATCH_METHOD, {QVariant::fromValue<qulonglong>(65535)}, &out), S_OK);
    EXPECT_EQ(out[0].metaType(), QMetaType::fromType<quint16>());
    EXPECT_EQ(out[0].value<quint16>(), 65535);
    ASSERT_EQ(check(2, DISPATCH_METHOD, {QVariant::fromValue<qint8>(-3)}, &out), S_OK);
    EXPECT_EQ(out[0].value<qint32>(), -3);
    ASSERT_EQ(check(2, DISPATCH_METHOD, {QVariant::fromValue<qlonglong>(-2147483648LL)}, &out),
              S_OK);
    EXPECT_EQ(out[0].value<qint32>(), std::numeric_limits<qint32>::min());
    EXPECT_EQ(check(2, DISPATCH_METHOD, {true}, &out), S_OK);
    EXPECT_EQ(out[0].value<qint32>(), 1);

    // A method without parameters; a method may also be called with the get flag set.
    EXPECT_EQ(check(8, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}), S_OK);
    ASSERT_EQ(check(6, DISPATCH_METHOD, {QString("/tmp/pictures")}, &out), S_OK);
    EXPECT_EQ(out[0].toString(), "/tmp/pictures");
}

TEST(CheckInvoke, CountKindTypeAndOverflowErrors) {
    EXPECT_EQ(check(3, DISPATCH_METHOD, {QByteArray("x")}), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(check(3, DISPATCH_METHOD, {QByteArray("x"), 1, 2}), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(check(8, DISPATCH_METHOD, {1}), DISP_E_BADPARAMCOUNT);

    // A method called as a property and the other way round.
    EXPECT_EQ(check(1, DISPATCH_PROPERTYGET, {}), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(check(1, DISPATCH_PROPERTYPUT, {1}), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(check(5, DISPATCH_METHOD, {}), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(check(5, 0, {}), DISP_E_MEMBERNOTFOUND);

    // Strings of the other kind, numbers as strings, strings as numbers, doubles.
    EXPECT_EQ(check(3, DISPATCH_METHOD, {QString("rtsp://x"), 1}), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(check(6, DISPATCH_METHOD, {QByteArray("/tmp")}), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(check(1, DISPATCH_METHOD, {QString("4")}), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(check(1, DISPATCH_METHOD, {4.0}), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(check(3, DISPATCH_METHOD, {QByteArray("x"), QByteArray("1")}), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(check(1, DISPATCH_METHOD, {QVariant()}), DISP_E_PARAMNOTOPTIONAL);

    EXPECT_EQ(check(1, DISPATCH_METHOD, {65536}), DISP_E_OVERFLOW);
    EXPECT_EQ(check(1, DISPATCH_METHOD, {-1}), DISP_E_OVERFLOW);
    EXPECT_EQ(check(3, DISPATCH_METHOD, {QByteArray("x"), 32768}), DISP_E_OVERFLOW);
    EXPECT_EQ(check(3, DISPATCH_METHOD, {QByteArray("x"), -32769}), DISP_E_OVERFLOW);
    EXPECT_EQ(check(2, DISPATCH_METHOD, {QVariant::fromValue<qlonglong>(1LL << 31)}),
              DISP_E_OVERFLOW);
    EXPECT_EQ(check(2, DISPATCH_METHOD, {QVariant::fromValue<qulonglong>(~0ULL)}), DISP_E_OVERFLOW);

    // A failed check leaves nothing half converted.
    QVariantList out{1, 2, 3};
    EXPECT_EQ(check(3, DISPATCH_METHOD, {QByteArray("x"), 1.5}, &out), DISP_E_TYPEMISMATCH);
    EXPECT_TRUE(out.isEmpty());
}

TEST(CheckInvoke, PropertyGetAndPut) {
    QVariantList out;
    EXPECT_EQ(check(5, DISPATCH_PROPERTYGET, {}, &out), S_OK);
    EXPECT_TRUE(out.isEmpty());
    EXPECT_EQ(check(5, DISPATCH_PROPERTYGET, {QString("x")}), DISP_E_BADPARAMCOUNT);
    ASSERT_EQ(check(5, DISPATCH_PROPERTYPUT, {QString("/pics")}, &out), S_OK);
    EXPECT_EQ(out.value(0).toString(), "/pics");
    EXPECT_EQ(check(5, DISPATCH_PROPERTYPUT, {}), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(check(5, DISPATCH_PROPERTYPUT, {QByteArray("/pics")}), DISP_E_TYPEMISMATCH);
}

TEST(TypeInfo, NamesAndLookUp) {
    EXPECT_EQ(varTypeName(VarType::I2), "short");
    EXPECT_EQ(varTypeName(VarType::UI2), "unsigned short");
    EXPECT_EQ(varTypeName(VarType::I4), "long");
    EXPECT_EQ(varTypeName(VarType::Str8), "unsigned char*");
    EXPECT_EQ(varTypeName(VarType::Bstr), "BSTR");
    EXPECT_EQ(varTypeName(VarType::Empty), "void");
    EXPECT_EQ(sampleInterface().find(3)->name, "startplayurl");
    EXPECT_EQ(sampleInterface().find(4), nullptr);
    EXPECT_EQ(sampleInterface().find(-1), nullptr);
}
