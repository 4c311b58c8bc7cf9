<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>CMonvidPropPage</name>
    <message>
        <source>常规</source>
        <translation>General</translation>
    </message>
    <message>
        <source>Monvid 视频墙控件</source>
        <translation>Monvid video wall control</translation>
    </message>
</context>
<context>
    <name>CShowVideoDlg</name>
    <message>
        <source>显示状态信息</source>
        <translation>Show status information</translation>
    </message>
</context>
<context>
    <name>HealthOverlay</name>
    <message>
        <source>显示 %1 帧/秒，接收 %2 帧/秒</source>
        <translation>Shown %1 fps, received %2 fps</translation>
    </message>
    <message>
        <source>码率 %1 kbit/s</source>
        <translation>Bit rate %1 kbit/s</translation>
    </message>
    <message>
        <source>丢弃：迟到 %1，尺寸 %2，隐藏 %3，忙 %4</source>
        <translation>Dropped: late %1, size %2, hidden %3, busy %4</translation>
    </message>
    <message>
        <source>延迟 %1 ms</source>
        <translation>Latency %1 ms</translation>
    </message>
    <message>
        <source>延迟 —</source>
        <translation>Latency —</translation>
    </message>
</context>
<context>
    <name>IdlePicture</name>
    <message>
        <source>无视频</source>
        <translation>No video</translation>
    </message>
</context>
<context>
    <name>LostBadge</name>
    <message>
        <source>连接被拒绝</source>
        <translation>connection refused</translation>
    </message>
    <message>
        <source>未找到</source>
        <translation>not found</translation>
    </message>
    <message>
        <source>超时</source>
        <translation>timed out</translation>
    </message>
    <message>
        <source>不支持</source>
        <translation>unsupported</translation>
    </message>
    <message>
        <source>连接已断开</source>
        <translation>connection closed</translation>
    </message>
    <message>
        <source>拒绝访问</source>
        <translation>access denied</translation>
    </message>
    <message>
        <source>网络不可达</source>
        <translation>network unreachable</translation>
    </message>
    <message>
        <source>自 %1 起无图像</source>
        <translation>No picture since %1</translation>
    </message>
    <message>
        <source>原因：%1</source>
        <translation>Reason: %1</translation>
    </message>
    <message>
        <source>下次重试：%1</source>
        <translation>Next try: %1</translation>
    </message>
</context>
</TS>
