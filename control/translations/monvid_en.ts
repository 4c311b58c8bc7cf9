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
</TS>
