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
