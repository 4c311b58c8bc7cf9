#include "CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace vidwall {

namespace {

// The texts of the command line, translated in the context "CommandLine".
class Texts {
    Q_DECLARE_TR_FUNCTIONS(CommandLine)
};

}  // namespace

CommandLine parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(Texts::tr(
        "vidwall：视频墙。按设置文件在 1、2、4、9 或 16 个窗口中播放 RTSP/RTMP 地址或视频文件。"));
    const QCommandLineOption help({"h", "help"}, Texts::tr("显示本帮助并退出。"));
    const QCommandLineOption version({"v", "version"}, Texts::tr("显示版本并退出。"));
    const QCommandLineOption config(
        "config", Texts::tr("使用设置文件 <文件>（默认：当前文件夹中的 ./set.ini）。"),
        Texts::tr("文件"));
    const QCommandLineOption play("play", Texts::tr("窗口出现后按下“播放”。"));
    const QCommandLineOption fullScreen(
        "fullscreen",
        Texts::tr(
            "全屏（展台模式）：视频墙占满整个屏幕，不显示按钮栏。F11 切换全屏，Esc 退出全屏。"));
    const QCommandLineOption screen("screen", Texts::tr("在第 N 个显示器上显示（从 0 开始编号）。"),
                                    "N");
    const QCommandLineOption lang(
        "lang", Texts::tr("界面语言：zh（中文）或 en（英文）。默认由 LANGUAGE 和 LANG 决定。"),
        "zh|en");
    const QCommandLineOption unattended(
        "unattended", Texts::tr("无人值守：错误只写到标准错误输出，不弹出消息框。"));
    for (const QCommandLineOption& option :
         {help, version, config, play, fullScreen, screen, lang, unattended})
        parser.addOption(option);

    CommandLine result;
    ViewerOptions& options = result.options;
    if (!parser.parse(arguments)) {
        result.text = parser.errorText();
        return result;
    }
    // The language first: it is wanted for the help too.
    if (parser.isSet(lang)) {
        options.language = translation::languageFromName(parser.value(lang).toStdString());
        if (!options.language) {
            result.text = Texts::tr("--lang 只能是 zh 或 en，而不是“%1”。").arg(parser.value(lang));
            return result;
        }
    }
    if (parser.isSet(help)) {
        result.action = CommandLineAction::ShowHelp;
        result.text = parser.helpText();
        return result;
    }
    if (parser.isSet(version)) {
        result.action = CommandLineAction::ShowVersion;
        result.text = QString("vidwall %1").arg(MONVID_VERSION);
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.text = Texts::tr("多余的参数：%1").arg(parser.positionalArguments().join(' '));
        return result;
    }
    if (parser.isSet(config)) {
        const QString file = parser.value(config);
        if (file.isEmpty()) {
            result.text = Texts::tr("--config 需要一个文件名。");
            return result;
        }
        options.settingsFile = file.toStdString();
    }
    if (parser.isSet(screen)) {
        bool ok = false;
        const int index = parser.value(screen).toInt(&ok);
        if (!ok || index < 0) {
            result.text = Texts::tr("--screen 需要一个从 0 开始的显示器编号，而不是“%1”。")
                              .arg(parser.value(screen));
            return result;
        }
        options.screen = index;
    }
    options.play = parser.isSet(play);
    options.fullScreen = parser.isSet(fullScreen);
    options.unattended = parser.isSet(unattended);
    result.action = CommandLineAction::Run;
    return result;
}

std::optional<translation::Language> languageArgument(const QStringList& arguments) {
    return parseCommandLine(arguments).options.language;
}

}  // namespace vidwall
