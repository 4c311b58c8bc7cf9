<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>CAboutDlg</name>
    <message>
        <source>关于 vidwall</source>
        <translation>About vidwall</translation>
    </message>
    <message>
        <source>vidwall，1.0 版</source>
        <translation>vidwall, version 1.0</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>CSetDlg</name>
    <message>
        <source>播放设置</source>
        <translation>Play Settings</translation>
    </message>
    <message>
        <source>窗口数：</source>
        <translation>Windows:</translation>
    </message>
    <message>
        <source>循环播放</source>
        <translation>Loop play</translation>
    </message>
    <message>
        <source>分配视频</source>
        <translation>Assign Video File</translation>
    </message>
    <message>
        <source>分配rtmp/rtsp视频源</source>
        <translation>Assign RTMP/RTSP Source</translation>
    </message>
    <message>
        <source>重新分配</source>
        <translation>Assign Anew</translation>
    </message>
    <message>
        <source>窗口号</source>
        <translation>Window</translation>
    </message>
    <message>
        <source>视频源</source>
        <translation>Video source</translation>
    </message>
    <message>
        <source>保存</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>视频格式文件(*.*) (*)</source>
        <translation>Video files (*.*) (*)</translation>
    </message>
    <message>
        <source>保存失败</source>
        <translation>Not Saved</translation>
    </message>
    <message>
        <source>%1号窗口</source>
        <translation>Window %1</translation>
    </message>
    <message>
        <source>窗口数“%1”无效：只能是 1、2、4、9 或 16。

设置尚未保存。</source>
        <translation>The window count &quot;%1&quot; is not valid: it must be 1, 2, 4, 9 or 16.

The settings have not been saved.</translation>
    </message>
    <message>
        <source>无法写入设置文件：
%1

设置尚未保存。请检查该文件及其所在的文件夹是否可以写入。</source>
        <translation>Cannot write the settings file:
%1

The settings have not been saved. Check that the file and its folder can be written.</translation>
    </message>
</context>
<context>
    <name>CSetUrlDlg</name>
    <message>
        <source>RTMP/RTSP视频源</source>
        <translation>RTMP/RTSP Source</translation>
    </message>
    <message>
        <source>RTMP或者RTSP:</source>
        <translation>RTMP or RTSP address:</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>vidwall：视频墙。按设置文件在 1、2、4、9 或 16 个窗口中播放 RTSP/RTMP 地址或视频文件。</source>
        <translation>vidwall: a video wall. Plays RTSP/RTMP addresses or video files in 1, 2, 4, 9 or 16 windows, as the settings file says.</translation>
    </message>
    <message>
        <source>显示本帮助并退出。</source>
        <translation>Show this help and exit.</translation>
    </message>
    <message>
        <source>显示版本并退出。</source>
        <translation>Show the version and exit.</translation>
    </message>
    <message>
        <source>使用设置文件 &lt;文件&gt;（默认：当前文件夹中的 ./set.ini）。</source>
        <translation>Use the settings file &lt;file&gt; (default: ./set.ini in the current folder).</translation>
    </message>
    <message>
        <source>文件</source>
        <translation>file</translation>
    </message>
    <message>
        <source>窗口出现后按下“播放”。</source>
        <translation>Press Play once the window is up.</translation>
    </message>
    <message>
        <source>全屏（展台模式）：视频墙占满整个屏幕，不显示按钮栏。F11 切换全屏，Esc 退出全屏。</source>
        <translation>Full screen (kiosk mode): the wall fills the screen without the button band. F11 toggles full screen, Esc leaves it.</translation>
    </message>
    <message>
        <source>在第 N 个显示器上显示（从 0 开始编号）。</source>
        <translation>Show the window on monitor N (counted from 0).</translation>
    </message>
    <message>
        <source>界面语言：zh（中文）或 en（英文）。默认由 LANGUAGE 和 LANG 决定。</source>
        <translation>Language of the texts: zh (Chinese) or en (English). By default LANGUAGE and LANG decide.</translation>
    </message>
    <message>
        <source>无人值守：错误只写到标准错误输出，不弹出消息框。</source>
        <translation>Unattended: errors go to standard error only, without message boxes.</translation>
    </message>
    <message>
        <source>--lang 只能是 zh 或 en，而不是“%1”。</source>
        <translation>--lang takes zh or en, not &quot;%1&quot;.</translation>
    </message>
    <message>
        <source>没有可以显示窗口的显示器（DISPLAY 未设置）。</source>
        <translation>No display to show the windows on (DISPLAY is not set).</translation>
    </message>
    <message>
        <source>无法打开显示器 %1。</source>
        <translation>Cannot open display %1.</translation>
    </message>
    <message>
        <source>多余的参数：%1</source>
        <translation>Unexpected argument: %1</translation>
    </message>
    <message>
        <source>--config 需要一个文件名。</source>
        <translation>--config needs a file name.</translation>
    </message>
    <message>
        <source>--screen 需要一个从 0 开始的显示器编号，而不是“%1”。</source>
        <translation>--screen takes a monitor number counted from 0, not &quot;%1&quot;.</translation>
    </message>
</context>
<context>
    <name>CvidwallApp</name>
    <message>
        <source>视频墙控件无法创建，也找不到随 vidwall 安装的控件库。

%1

查找过：
%2

注册表文件：%3</source>
        <translation>The video wall control cannot be created, and the control library installed with vidwall was not found.

%1

Looked for:
%2

Registry file: %3</translation>
    </message>
    <message>
        <source>无法注册视频墙控件库：
%1

注册表文件：%2</source>
        <translation>Cannot register the video wall control library:
%1

Registry file: %2</translation>
    </message>
    <message>
        <source>视频墙控件库已注册，但控件无法创建（%1）：
%2

注册表文件：%3</source>
        <translation>The video wall control library was registered, but the control cannot be created (%1):
%2

Registry file: %3</translation>
    </message>
    <message>
        <source>没有第 %1 个显示器（共 %2 个），窗口显示在主显示器上。</source>
        <translation>There is no monitor %1 (there are %2); the window is shown on the primary monitor.</translation>
    </message>
    <message>
        <source>vidwall 无法启动</source>
        <translation>vidwall Cannot Start</translation>
    </message>
    <message>
        <source>用 vidwall --help 查看可用的选项。</source>
        <translation>Run vidwall --help to see the options.</translation>
    </message>
</context>
<context>
    <name>CvidwallDlg</name>
    <message>
        <source>播放</source>
        <translation>Play</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>无法创建视频墙控件（%1）：
%2</source>
        <translation>Cannot create the video wall control (%1):
%2</translation>
    </message>
    <message>
        <source>关于 vidwall(&amp;A)...</source>
        <translation>&amp;About vidwall...</translation>
    </message>
</context>
</TS>
