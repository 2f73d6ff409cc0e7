<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>MainWindow</name>
    <message>
        <source>声卡未连接！</source>
        <translation>No audio interface connected!</translation>
    </message>
    <message>
        <source>获取固件版本失败，请检查连接！</source>
        <translation>Could not read the firmware version. Please check the connection!</translation>
    </message>
    <message>
        <source>未知设备，请检查连接！</source>
        <translation>Unknown device. Please check the connection!</translation>
    </message>
    <message>
        <source>Kestrum KX1 - FW: </source>
        <translation>Kestrum KX1 - FW: </translation>
    </message>
    <message>
        <source>Kestrum KX2 - FW: </source>
        <translation>Kestrum KX2 - FW: </translation>
    </message>
    <message>
        <source>Kestrum KQ - FW: </source>
        <translation>Kestrum KQ - FW: </translation>
    </message>
    <message>
        <source>Kestrum Driver</source>
        <translation>Kestrum Driver</translation>
    </message>
</context>
<context>
    <name>Settings</name>
    <message>
        <source>Settings</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>Buffer Size:</source>
        <translation>Buffer Size:</translation>
    </message>
    <message>
        <source>USB Latency Size:</source>
        <translation>USB Latency Size:</translation>
    </message>
    <message>
        <source>Samplerate:</source>
        <translation>Samplerate:</translation>
    </message>
    <message>
        <source>Safe Mode:</source>
        <translation>Safe Mode:</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>TrayIcon</name>
    <message>
        <source>主窗口</source>
        <translation>Main Window</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>声音面板</source>
        <translation>Sound Control Panel</translation>
    </message>
    <message>
        <source>刷新设备列表</source>
        <translation>Refresh Device List</translation>
    </message>
    <message>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>主窗口未设置，请先设置主窗口。</source>
        <translation>The main window is not set. Please set the main window first.</translation>
    </message>
    <message>
        <source>设置窗口未设置，请先设置设置窗口。</source>
        <translation>The settings window is not set. Please set the settings window first.</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>无法打开声音设置面板，请检查系统设置。</source>
        <translation>Could not open the sound control panel. Please check the system settings.</translation>
    </message>
    <message>
        <source>Application Tray</source>
        <translation>Application Tray</translation>
    </message>
</context>
</TS>
