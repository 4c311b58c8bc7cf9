// The language the environment asks for, read as gettext reads it, and the catalogs the
// programs install for it.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTranslator>

#include <map>
#include <memory>
#include <string>

#include "Translation.h"

using translation::Language;

namespace {

Language languageOf(const std::map<std::string, std::string>& environment) {
    return translation::languageFromEnvironment([&](const char* name) {
        const auto found = environment.find(name);
        return found == environment.end() ? std::string() : found->second;
    });
}

}  // namespace

TEST(LanguageFromEnvironment, ChineseOnlyForAChineseLocaleEverythingElseEnglish) {
    EXPECT_EQ(languageOf({}), Language::English);  // nothing set: the C locale
    EXPECT_EQ(languageOf({{"LANG", "zh_CN.UTF-8"}}), Language::Chinese);
    EXPECT_EQ(languageOf({{"LANG", "zh_TW.UTF-8"}}), Language::Chinese);
    EXPECT_EQ(languageOf({{"LANG", "zh"}}), Language::Chinese);
    EXPECT_EQ(languageOf({{"LANG", "en_US.UTF-8"}}), Language::English);
    EXPECT_EQ(languageOf({{"LANG", "de_DE.UTF-8"}}), Language::English);
    EXPECT_EQ(languageOf({{"LANG", "C.UTF-8"}}), Language::English);
    EXPECT_EQ(languageOf({{"LANG", "POSIX"}}), Language::English);
}

TEST(LanguageFromEnvironment, LcAllThenLcMessagesThenLang) {
    EXPECT_EQ(languageOf({{"LC_ALL", "en_US.UTF-8"}, {"LANG", "zh_CN.UTF-8"}}), Language::English);
    EXPECT_EQ(languageOf({{"LC_ALL", "zh_CN.UTF-8"}, {"LANG", "en_US.UTF-8"}}), Language::Chinese);
    EXPECT_EQ(languageOf({{"LC_MESSAGES", "zh_CN.UTF-8"}, {"LANG", "en_US.UTF-8"}}),
              Language::Chinese);
    EXPECT_EQ(languageOf({{"LC_ALL", ""}, {"LANG", "zh_CN.UTF-8"}}), Language::Chinese);
}

TEST(LanguageFromEnvironment, LanguageListWinsUnlessTheLocaleIsC) {
    EXPECT_EQ(languageOf({{"LANGUAGE", "zh_CN:en"}, {"LANG", "en_US.UTF-8"}}), Language::Chinese);
    EXPECT_EQ(languageOf({{"LANGUAGE", "en"}, {"LANG", "zh_CN.UTF-8"}}), Language::English);
    EXPECT_EQ(languageOf({{"LANGUAGE", "::zh_CN"}, {"LANG", "en_US.UTF-8"}}),
              Language::Chinese);  // empty entries are skipped
    EXPECT_EQ(languageOf({{"LANGUAGE", ":"}, {"LANG", "zh_CN.UTF-8"}}), Language::Chinese);
    // gettext ignores LANGUAGE under the C locale, and so do we.
    EXPECT_EQ(languageOf({{"LANGUAGE", "zh_CN"}, {"LANG", "C"}}), Language::English);
    EXPECT_EQ(languageOf({{"LANGUAGE", "zh_CN"}}), Language::English);
}

TEST(LanguageNames, OnlyZhAndEn) {
    EXPECT_EQ(translation::languageFromName("zh"), Language::Chinese);
    EXPECT_EQ(translation::languageFromName("en"), Language::English);
    for (const char* other : {"", "fr", "ZH", "zh_CN", "english"})
        EXPECT_FALSE(translation::languageFromName(other).has_value()) << other;
    EXPECT_EQ(translation::languageOf(QLocale(QLocale::Chinese, QLocale::Taiwan)),
              Language::Chinese);
    EXPECT_EQ(translation::languageOf(QLocale::c()), Language::English);
    EXPECT_EQ(translation::languageOf(translation::localeOf(Language::Chinese)), Language::Chinese);
    EXPECT_EQ(translation::languageOf(translation::localeOf(Language::English)), Language::English);
}

TEST(TranslationFolders, OneAndTwoFoldersAboveTheBinary) {
    unsetenv("MONVID_TRANSLATIONS");
    EXPECT_EQ(translation::translationFolders("/usr/bin/vidwall"),
              QStringList({"/usr/share/monvid/translations", "/share/monvid/translations"}));
    EXPECT_EQ(
        translation::translationFolders("/opt/m/lib/x86_64-linux-gnu/libmonvid.so"),
        QStringList({"/opt/m/lib/share/monvid/translations", "/opt/m/share/monvid/translations"}));
    setenv("MONVID_TRANSLATIONS", "/tmp/catalogs", 1);
    EXPECT_EQ(translation::translationFolders("/usr/bin/vidwall").value(0), "/tmp/catalogs");
    unsetenv("MONVID_TRANSLATIONS");
}

#ifdef MONVID_TRANSLATIONS_BUILD_DIR
TEST(Catalogs, EnglishIsLoadedChineseIsTheSourceAndAMissingCatalogKeepsTheSource) {
    int argc = 1;
    char name[] = "translation_test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    const auto play = [] { return QCoreApplication::translate("CvidwallDlg", "播放"); };
    const auto general = [] { return QCoreApplication::translate("CMonvidPropPage", "常规"); };
    const auto installed = [&] { return app.findChildren<QTranslator*>().size(); };
    const QStringList folders = {"/nonexistent", MONVID_TRANSLATIONS_BUILD_DIR};

    EXPECT_TRUE(translation::useCatalog("vidwall", Language::English, folders));
    EXPECT_TRUE(translation::useCatalog("monvid", Language::English, folders));
    EXPECT_EQ(play(), "Play");
    EXPECT_EQ(general(), "General");
    EXPECT_TRUE(translation::useCatalog("vidwall", Language::English, folders));  // kept
    EXPECT_EQ(installed(), 2);

    EXPECT_TRUE(translation::useCatalog("vidwall", Language::Chinese, folders));
    EXPECT_EQ(play(), QString::fromUtf8("播放"));
    EXPECT_EQ(general(), "General");  // the control's catalog is its own
    EXPECT_EQ(installed(), 1);

    EXPECT_TRUE(translation::useCatalog("monvid", Language::Chinese, folders));
    EXPECT_FALSE(translation::useCatalog("monvid", Language::English, {"/nonexistent"}));
    EXPECT_EQ(general(), QString::fromUtf8("常规"));
    EXPECT_EQ(installed(), 0);
}
#endif
