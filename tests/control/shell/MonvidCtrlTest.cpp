// The control object through its dispatch interface and its typed methods.
#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QTabWidget>

#include <filesystem>

#include "../player/QtTestMain.h"
#include "IdlePicture.h"
#include "LostBadge.h"
#include "MonvidCtrl.h"
#include "MonvidIds.h"
#include "MonvidPropPage.h"
#include "Mydlg.h"
#include "support/media.h"

using namespace component;
using testsupport::waitUntil;

namespace {

QVariant i16(int v) {
    return QVariant::fromValue<qint16>(static_cast<qint16>(v));
}
QVariant u16(int v) {
    return QVariant::fromValue<quint16>(static_cast<quint16>(v));
}
QVariant i32(int v) {
    return QVariant::fromValue<qint32>(v);
}

class ControlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host_ = std::make_unique<QWidget>();
        host_->resize(800, 600);
        control_ = new CMonvidCtrl();
        ASSERT_EQ(control_->CreateControlWindow(host_.get()), S_OK);
        control_->controlWindow()->setGeometry(0, 0, 800, 600);
        host_->show();
    }
    void TearDown() override {
        control_->Release();
        host_.reset();
    }
    HRESULT call(int dispid, const QVariantList& args, QVariant* result = nullptr,
                 int flags = DISPATCH_METHOD) {
        return control_->Invoke(dispid, flags, args, result);
    }
    CShowVideoDlg* window(int i) { return control_->grid()->window(i); }
    int visibleCount() {
        int n = 0;
        for (auto* w : control_->grid()->m_wndVideo)
            n += w->isVisible();
        return n;
    }

    std::unique_ptr<QWidget> host_;
    CMonvidCtrl* control_ = nullptr;
};

}  // namespace

TEST_F(ControlTest, WindowCreationFillsTheControlWithFourWindows) {
    EXPECT_EQ(control_->grid()->geometry(), QRect(0, 0, 800, 600));
    EXPECT_EQ(visibleCount(), 4);
    control_->controlWindow()->resize(1000, 600);
    EXPECT_EQ(control_->grid()->size(), QSize(1000, 600));
    EXPECT_EQ(window(3)->geometry(), QRect(500, 300, 500, 300));
}

TEST_F(ControlTest, SetWindStyleLaysOutAndUnknownCountsChangeNothing) {
    EXPECT_EQ(call(monvid::DISPID_SetWindStyle, {u16(9)}), S_OK);
    EXPECT_EQ(visibleCount(), 9);
    EXPECT_EQ(call(monvid::DISPID_SetWindStyle, {u16(3)}), S_OK);
    EXPECT_EQ(control_->grid()->m_nWindowCount, 3);
    EXPECT_EQ(visibleCount(), 9);
    EXPECT_EQ(call(monvid::DISPID_SetWindStyle, {u16(0)}), S_OK);
    EXPECT_EQ(visibleCount(), 9);
}

TEST_F(ControlTest, StartStopTitleAndReplayReachTheWindows) {
    QVariant result;
    EXPECT_EQ(call(monvid::DISPID_SetReplay, {i16(1)}, &result), S_OK);
    EXPECT_EQ(result.value<qint16>(), 0);
    const QByteArray clip = QByteArray::fromStdString(testsupport::mediaPath("video_only.mp4"));
    EXPECT_EQ(call(monvid::DISPID_startplayurl, {clip, i16(2)}, &result), S_OK);
    EXPECT_EQ(result.value<qint16>(), 0);
    EXPECT_EQ(window(2)->url(), clip.toStdString());
    ASSERT_TRUE(waitUntil([&] { return window(2)->m_counters.shown.load() >= 2; }, 10000));

    EXPECT_EQ(call(monvid::DISPID_SetViewTitle, {i16(2), QByteArray("门口 cam")}, &result), S_OK);
    EXPECT_EQ(window(2)->title(), QString::fromUtf8("门口 cam"));
    EXPECT_EQ(window(2)->m_strTitle, "门口 cam");

    // StopPlay switches replay off on all sixteen, then stops the one window.
    EXPECT_EQ(call(monvid::DISPID_StopPlay, {i32(2)}), S_OK);
    for (auto* w : control_->grid()->m_wndVideo)
        EXPECT_FALSE(w->m_bReplay.load());
    EXPECT_FALSE(window(2)->m_bPlaying.load());
    ASSERT_TRUE(waitUntil([&] { return window(2)->liveThreadCount() == 0; }, 5000));
}

TEST_F(ControlTest, IndicesOutsideTheWallDoNothingAndReturnZero) {
    QVariant result = 99;
    for (int index : {-1, 16, 32767, -32768}) {
        EXPECT_EQ(call(monvid::DISPID_startplayurl, {QByteArray("x.mp4"), i16(index)}, &result),
                  S_OK);
        EXPECT_EQ(result.value<qint16>(), 0);
        EXPECT_EQ(call(monvid::DISPID_SetViewTitle, {i16(index), QByteArray("t")}, &result), S_OK);
        EXPECT_EQ(call(monvid::DISPID_StopPlay, {i32(index)}), S_OK);
        EXPECT_EQ(call(monvid::DISPID_CapturePic, {i32(index)}, &result), S_OK);
        EXPECT_EQ(result.value<qint32>(), 0);
    }
    for (auto* w : control_->grid()->m_wndVideo)
        EXPECT_EQ(w->liveThreadCount(), 0);
}

TEST_F(ControlTest, WrongArgumentsGiveDispatchErrors) {
    EXPECT_EQ(call(monvid::DISPID_SetWindStyle, {}), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(call(monvid::DISPID_SetWindStyle, {u16(4), u16(4)}), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(call(monvid::DISPID_SetWindStyle, {QByteArray("4")}), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(call(monvid::DISPID_SetWindStyle, {i32(70000)}), DISP_E_OVERFLOW);
    EXPECT_EQ(call(monvid::DISPID_startplayurl, {i16(1), QByteArray("x")}), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(call(monvid::DISPID_SetPicPath, {QByteArray("/tmp")}), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(call(0, {}), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(call(10, {}), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(call(monvid::DISPID_GetActiveWnd, {}, nullptr, DISPATCH_PROPERTYPUT),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(call(monvid::DISPID_StopPlay, {QVariant()}), DISP_E_PARAMNOTOPTIONAL);
    // Integers of another width convert when they fit.
    EXPECT_EQ(call(monvid::DISPID_SetWindStyle, {i32(16)}), S_OK);
    EXPECT_EQ(visibleCount(), 16);
}

TEST_F(ControlTest, PicturesPathPropertyMarksModifiedAndSetPicPathDoesNot) {
    QVariant result;
    EXPECT_EQ(call(monvid::DISPID_SetPicPath, {QString("/srv/pics")}), S_OK);
    EXPECT_FALSE(control_->IsModified());
    EXPECT_EQ(call(monvid::DISPID_PicturesPath, {}, &result, DISPATCH_PROPERTYGET), S_OK);
    EXPECT_EQ(result.toString(), "/srv/pics");
    EXPECT_EQ(
        call(monvid::DISPID_PicturesPath, {QString("/srv/other")}, nullptr, DISPATCH_PROPERTYPUT),
        S_OK);
    EXPECT_TRUE(control_->IsModified());
    EXPECT_EQ(control_->property("PicturesPath").toString(), "/srv/other");
}

TEST_F(ControlTest, GetActiveWndIsZeroUntilAWindowIsSelected) {
    QVariant result;
    EXPECT_EQ(call(monvid::DISPID_GetActiveWnd, {}, &result), S_OK);
    EXPECT_EQ(result.value<qint32>(), 0);
    window(3)->Activate();
    window(5)->Activate();
    EXPECT_EQ(call(monvid::DISPID_GetActiveWnd, {}, &result), S_OK);
    EXPECT_EQ(result.value<qint32>(), 5);
}

TEST_F(ControlTest, CapturePicNamesTheFileFromFolderTitleAndTime) {
    testsupport::TempDir dir;
    control_->SetPicPath(QString::fromStdString(dir.path().string()));
    control_->SetViewTitle(1, "cam1");
    {
        QImage picture(64, 48, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        std::lock_guard lock(window(1)->m_csPicture);
        window(1)->m_hPicture = picture;
    }
    EXPECT_EQ(control_->CapturePic(1), 0);
    EXPECT_EQ(control_->CapturePic(2), 0);  // no picture: nothing saved
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        names.push_back(e.path().filename());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].rfind("cam1-", 0), 0u);
    EXPECT_EQ(names[0].substr(names[0].size() - 4), ".bmp");
}

TEST_F(ControlTest, DrawnWithoutItsWindowItIsAWhiteFieldWithAnEllipse) {
    QImage image(200, 100, QImage::Format_RGB32);
    image.fill(Qt::red);
    QPainter painter(&image);
    control_->OnDraw(painter, image.rect());
    painter.end();
    EXPECT_EQ(image.pixel(100, 50), qRgb(255, 255, 255));  // inside
    EXPECT_EQ(image.pixel(2, 2), qRgb(255, 255, 255));     // corner, outside the ellipse
    EXPECT_EQ(image.pixel(0, 50), qRgb(0, 0, 0));          // the ellipse touches the edges
    EXPECT_EQ(image.pixel(100, 0), qRgb(0, 0, 0));
}

TEST_F(ControlTest, PersistsOnlyItsVersionAndComesBackWithoutAPicturesPath) {
    control_->SetPicturesPath("/srv/pics");
    const QByteArray state = control_->SaveState();
    EXPECT_EQ(state, QByteArray::fromHex("00000100"));
    CMonvidCtrl restored;
    EXPECT_TRUE(restored.LoadState(state));
    EXPECT_TRUE(restored.GetPicturesPath().isEmpty());
    EXPECT_FALSE(restored.LoadState(QByteArray::fromHex("00000200")));  // a later version
    EXPECT_FALSE(restored.LoadState(QByteArray("\x01", 1)));
}

TEST(ControlLanguage, PropertiesVerbOpensTheGeneralPageInTheHostsLanguage) {
    // The host's language is QLocale's default when the control is created. The control's
    // code is linked into this program, which lies deeper in the build tree than the library.
    setenv("MONVID_TRANSLATIONS", MONVID_TRANSLATIONS_BUILD_DIR, 1);
    const struct {
        QLocale locale;
        const char* caption;
        const char* text;
    } cases[] = {
        {QLocale(QLocale::Chinese, QLocale::China), "常规", "Monvid 视频墙控件"},
        {QLocale(QLocale::English, QLocale::UnitedStates), "General", "Monvid video wall control"},
        {QLocale(QLocale::German, QLocale::Germany), "General", "Monvid video wall control"},
        {QLocale(QLocale::Chinese, QLocale::Taiwan), "常规", "Monvid 视频墙控件"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.locale.name().toStdString());
        QLocale::setDefault(c.locale);
        QWidget host;
        CMonvidCtrl* control = new CMonvidCtrl();
        ASSERT_EQ(control->CreateControlWindow(&host), S_OK);
        EXPECT_EQ(control->ShowProperties(), S_OK);
        auto pages = control->controlWindow()->findChildren<CMonvidPropPage*>();
        ASSERT_EQ(pages.size(), 1);
        EXPECT_TRUE(pages[0]->isVisible());
        auto* tabs = pages[0]->findChild<QTabWidget*>();
        ASSERT_NE(tabs, nullptr);
        EXPECT_EQ(tabs->tabText(0), QString::fromUtf8(c.caption));
        auto* label = pages[0]->findChild<QLabel*>();
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), QString::fromUtf8(c.text));
        pages[0]->close();
        control->Release();
    }
    QLocale::setDefault(QLocale::c());
    unsetenv("MONVID_TRANSLATIONS");
}

TEST(ControlLanguage, AGridHostedWithoutTheControlDrawsInTheHostsLanguage) {
    // A host such as monvid-demo embeds the grid itself: the badge and the idle picture still
    // follow the language the host chose, or the user's when it chose none.
    setenv("MONVID_TRANSLATIONS", MONVID_TRANSLATIONS_BUILD_DIR, 1);
    QImage english, chinese;
    for (const QLocale& locale : {QLocale(QLocale::English, QLocale::UnitedStates),
                                  QLocale(QLocale::Chinese, QLocale::China)}) {
        QLocale::setDefault(locale);
        CMydlg grid(nullptr);
        const bool isEnglish = locale.language() == QLocale::English;
        EXPECT_EQ(monvid::lossReasonText(monvid::LossReason::Refused, {}),
                  isEnglish ? QString("connection refused") : QString::fromUtf8("连接被拒绝"));
        (isEnglish ? english : chinese) = monvid::idlePicture();
    }
    EXPECT_FALSE(english.isNull());
    EXPECT_NE(english, chinese) << "the idle picture's words did not change with the language";
    QLocale::setDefault(QLocale::c());
    unsetenv("MONVID_TRANSLATIONS");
}

TEST(ControlLifetime, HostDestroyingTheParentFirstLeavesAControlThatCanStillBeCalled) {
    auto host = std::make_unique<QWidget>();
    auto* control = new CMonvidCtrl();
    ASSERT_EQ(control->CreateControlWindow(host.get()), S_OK);
    EXPECT_EQ(CMonvidCtrl::liveObjects(), 1);
    host.reset();  // takes the window, the grid and its windows
    EXPECT_EQ(control->controlWindow(), nullptr);
    QVariant result;
    EXPECT_EQ(control->Invoke(monvid::DISPID_GetActiveWnd, DISPATCH_METHOD, {}, &result), S_OK);
    control->Release();
    EXPECT_EQ(CMonvidCtrl::liveObjects(), 0);
}

TEST_F(ControlTest, TheHostsMaxDelayPropertyReachesEveryWindow) {
    // Outside the dispatch interface: a dynamic property of the control's window.
    for (auto* w : control_->grid()->m_wndVideo)
        EXPECT_EQ(w->maxDelayMs(), monvid::kDefaultMaxDelayMs);
    control_->controlWindow()->setProperty(CMonvidWnd::kMaxDelayProperty, 0);
    for (auto* w : control_->grid()->m_wndVideo)
        EXPECT_EQ(w->maxDelayMs(), 0);
    control_->controlWindow()->setProperty(CMonvidWnd::kMaxDelayProperty, 800);
    EXPECT_EQ(window(15)->maxDelayMs(), 800);
    // Something that is not a number leaves the cap as it was.
    control_->controlWindow()->setProperty(CMonvidWnd::kMaxDelayProperty, "soon");
    EXPECT_EQ(window(15)->maxDelayMs(), 800);
}
