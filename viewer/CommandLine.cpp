#include "CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdlib>

#include "XDisplay.h"

namespace vidwall {

namespace {

// The texts of the command line, translated in the context "CommandLine".
class Texts {
    Q_DECLARE_TR_FUNCTIONS(CommandLine)
};

// Qt's own command-line options (QGuiApplication's and QApplication's, X11's among them),
// with one dash or two, and whether each takes a value.
struct QtOption {
    const char* name;
    bool takesValue;
};
constexpr QtOption kQtOptions[] = {
    {"platform", true},
    {"platformpluginpath", true},
    {"platformtheme", true},
    {"plugin", true},
    {"qwindowgeometry", true},
    {"qwindowicon", true},
    {"qwindowtitle", true},
    {"session", true},
    {"display", true},
    {"geometry", true},
    {"style", true},
    {"stylesheet", true},
    {"name", true},
    {"title", true},
    {"reverse", false},
    {"widgetcount", false},
    {"nograb", false},
    {"dograb", false},
    {"sync", false},
    {"visual", true},
    {"qmljsdebugger", true},
};

// The Qt option an argument names ("-platform", "--display=:1", ...), or null.
const QtOption* qtOption(const QString& argument, bool* valueAttached) {
    if (!argument.startsWith('-') || argument == "-" || argument == "--")
        return nullptr;
    QString name = argument.mid(argument.startsWith("--") ? 2 : 1);
    const qsizetype equals = name.indexOf('=');
    *valueAttached = equals >= 0;
    if (equals >= 0)
        name.truncate(equals);
    for (const QtOption& option : kQtOptions)
        if (name == QLatin1String(option.name))
            return &option;
    return nullptr;
}

// The value of Qt's option `name` among the arguments, or empty.
QString qtOptionValue(const QStringList& arguments, const char* name) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        bool attached = false;
        const QtOption* option = qtOption(arguments[i], &attached);
        if (!option || !option->takesValue)
            continue;
        const QString value = attached ? arguments[i].section('=', 1)
                                       : (i + 1 < arguments.size() ? arguments[i + 1] : QString());
        if (QLatin1String(option->name) == QLatin1String(name))
            return value;
        if (!attached)
            ++i;
    }
    return {};
}

}  // namespace

QStringList withoutQtOptions(const QStringList& arguments) {
    QStringList ours;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        bool attached = false;
        const QtOption* option = i > 0 ? qtOption(arguments[i], &attached) : nullptr;
        if (!option) {
            ours << arguments[i];
            continue;
        }
        if (option->takesValue && !attached)
            ++i;  // its value goes with it
    }
    return ours;
}

QString displayProblem(const QStringList& arguments) {
    QString platform = qtOptionValue(arguments, "platform");
    if (platform.isEmpty())
        platform = QString::fromLocal8Bit(qgetenv("QT_QPA_PLATFORM"));
    platform = platform.section(':', 0, 0).section(';', 0, 0);
    if (platform.isEmpty() && !qgetenv("WAYLAND_DISPLAY").isEmpty())
        return {};  // Qt chooses between Wayland and X11 itself
    if (!platform.isEmpty() && platform != "xcb")
        return {};  // offscreen, wayland, vnc, ...: Qt says what it lacks
    QString display = qtOptionValue(arguments, "display");
    if (display.isEmpty())
        display = QString::fromLocal8Bit(qgetenv("DISPLAY"));
    if (display.isEmpty())
        return Texts::tr("没有可以显示窗口的显示器（DISPLAY 未设置）。");
    if (!canOpenXDisplay(display.toLocal8Bit().toStdString()))
        return Texts::tr("无法打开显示器 %1。").arg(display);
    return {};
}

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
