// vidwall's command line: each option, the forms QCommandLineParser accepts, and the
// mistakes that end the program with exit code 2.
#include <gtest/gtest.h>

#include "CommandLine.h"
#include "VidwallApp.h"

using vidwall::CommandLineAction;
using vidwall::parseCommandLine;

namespace {

vidwall::CommandLine parse(QStringList arguments) {
    arguments.prepend("vidwall");
    return parseCommandLine(arguments);
}

}  // namespace

TEST(CommandLine, NothingGivenRunsWithTheSettingsFileOfTheCurrentFolder) {
    const auto parsed = parse({});
    ASSERT_EQ(parsed.action, CommandLineAction::Run);
    EXPECT_EQ(parsed.options.settingsFile, "./set.ini");
    EXPECT_FALSE(parsed.options.play);
    EXPECT_FALSE(parsed.options.fullScreen);
    EXPECT_FALSE(parsed.options.unattended);
    EXPECT_FALSE(parsed.options.screen.has_value());
    EXPECT_FALSE(parsed.options.language.has_value());
}

TEST(CommandLine, EveryOptionIsTaken) {
    auto parsed = parse({"--config", "/srv/wall/other.ini", "--play", "--fullscreen", "--screen",
                         "1", "--lang", "en", "--unattended"});
    ASSERT_EQ(parsed.action, CommandLineAction::Run) << parsed.text.toStdString();
    EXPECT_EQ(parsed.options.settingsFile, "/srv/wall/other.ini");
    EXPECT_TRUE(parsed.options.play);
    EXPECT_TRUE(parsed.options.fullScreen);
    EXPECT_TRUE(parsed.options.unattended);
    EXPECT_EQ(parsed.options.screen, 1);
    EXPECT_EQ(parsed.options.language, translation::Language::English);

    parsed = parse({"--config=lobby.ini", "--screen=0", "--lang=zh"});
    ASSERT_EQ(parsed.action, CommandLineAction::Run) << parsed.text.toStdString();
    EXPECT_EQ(parsed.options.settingsFile, "lobby.ini");
    EXPECT_EQ(parsed.options.screen, 0);
    EXPECT_EQ(parsed.options.language, translation::Language::Chinese);
}

TEST(CommandLine, HelpAndVersion) {
    for (const char* option : {"--help", "-h"}) {
        const auto parsed = parse({option});
        ASSERT_EQ(parsed.action, CommandLineAction::ShowHelp);
        for (const char* name :
             {"--config", "--play", "--fullscreen", "--screen", "--lang", "--version"})
            EXPECT_TRUE(parsed.text.contains(name)) << name;
    }
    const auto version = parse({"--version"});
    ASSERT_EQ(version.action, CommandLineAction::ShowVersion);
    EXPECT_EQ(version.text, QString("vidwall %1").arg(MONVID_VERSION));
    // The language is known also when the help is asked for: it is chosen before the texts.
    EXPECT_EQ(vidwall::languageArgument({"vidwall", "--lang", "en", "--help"}),
              translation::Language::English);
    EXPECT_FALSE(vidwall::languageArgument({"vidwall", "--lang", "fr"}).has_value());
}

TEST(CommandLine, MistakesFailWithAReason) {
    const std::vector<QStringList> mistakes = {
        {"--bogus"},      {"-x"},           {"--screen", "x"}, {"--screen", "-1"}, {"--screen"},
        {"--lang", "fr"}, {"--config", ""}, {"--config"},      {"other.ini"},      {"--play=yes"},
    };
    for (const QStringList& arguments : mistakes) {
        const auto parsed = parse(arguments);
        EXPECT_EQ(parsed.action, CommandLineAction::Fail) << arguments.join(' ').toStdString();
        EXPECT_FALSE(parsed.text.isEmpty()) << arguments.join(' ').toStdString();
    }
    EXPECT_EQ(vidwall::kExitUsage, 2);
}

TEST(CommandLine, QtsOwnOptionsAreLeftToQtAndOursStillCount) {
    const QStringList arguments = {"vidwall",  "-platform", "offscreen",      "--play",
                                   "-display", ":1",        "--style=fusion", "-reverse",
                                   "--config", "other.ini", "-qwindowtitle",  "Wall"};
    const QStringList ours = vidwall::withoutQtOptions(arguments);
    EXPECT_EQ(ours, (QStringList{"vidwall", "--play", "--config", "other.ini"}));
    const auto parsed = parseCommandLine(ours);
    ASSERT_EQ(parsed.action, CommandLineAction::Run) << parsed.text.toStdString();
    EXPECT_TRUE(parsed.options.play);
    EXPECT_EQ(parsed.options.settingsFile, "other.ini");
    // A mistake among them is still ours to report.
    EXPECT_EQ(
        parseCommandLine(vidwall::withoutQtOptions({"vidwall", "-platform", "xcb", "--bogus"}))
            .action,
        CommandLineAction::Fail);
}

TEST(CommandLine, AMissingOrUnreachableDisplayIsToldBeforeQtStarts) {
    // The environment as a service or an ssh session without X forwarding gives it.
    const QByteArray display = qgetenv("DISPLAY"), platform = qgetenv("QT_QPA_PLATFORM"),
                     wayland = qgetenv("WAYLAND_DISPLAY");
    qunsetenv("DISPLAY");
    qunsetenv("QT_QPA_PLATFORM");
    qunsetenv("WAYLAND_DISPLAY");
    EXPECT_FALSE(vidwall::displayProblem({"vidwall", "--play"}).isEmpty());
    EXPECT_FALSE(vidwall::displayProblem({"vidwall", "-platform", "xcb"}).isEmpty());
    // A display that nobody serves.
    const QString unreachable = vidwall::displayProblem({"vidwall", "-display", ":4093"});
    EXPECT_TRUE(unreachable.contains(":4093")) << unreachable.toStdString();
    qputenv("DISPLAY", ":4093");
    EXPECT_FALSE(vidwall::displayProblem({"vidwall"}).isEmpty());
    // Platforms other than X11 are Qt's to judge.
    EXPECT_TRUE(vidwall::displayProblem({"vidwall", "-platform", "offscreen"}).isEmpty());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    EXPECT_TRUE(vidwall::displayProblem({"vidwall"}).isEmpty());
    EXPECT_EQ(vidwall::kExitNoDisplay, 3);

    const auto restore = [](const char* name, const QByteArray& value) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    };
    restore("DISPLAY", display);
    restore("QT_QPA_PLATFORM", platform);
    restore("WAYLAND_DISPLAY", wayland);
}
