<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>ButtonAccessible</name>
    <message>
        <source>on</source>
        <translation>on</translation>
    </message>
    <message>
        <source>off</source>
        <translation>off</translation>
    </message>
</context>
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
    <name>ModelPanel</name>
    <message>
        <source>MIC</source>
        <translation>MIC</translation>
    </message>
    <message>
        <source>Mic instrument input</source>
        <translation>Mic instrument input</translation>
    </message>
    <message>
        <source>Mic %1 instrument input</source>
        <translation></translation>
    </message>
    <message>
        <source>20dB</source>
        <translation>20dB</translation>
    </message>
    <message>
        <source>Mic 20 dB pad</source>
        <translation>Mic 20 dB pad</translation>
    </message>
    <message>
        <source>Mic %1 20 dB pad</source>
        <translation>Mic %1 20 dB pad</translation>
    </message>
    <message>
        <source>48V</source>
        <translation>48V</translation>
    </message>
    <message>
        <source>Mic 48V</source>
        <translation>Mic 48V</translation>
    </message>
    <message>
        <source>Mic %1 48V</source>
        <translation>Mic %1 48V</translation>
    </message>
    <message>
        <source>DIRECT</source>
        <translation>DIRECT</translation>
    </message>
    <message>
        <source>Mic direct monitoring</source>
        <translation>Mic direct monitoring</translation>
    </message>
    <message>
        <source>Mic %1 direct monitoring</source>
        <translation>Mic %1 direct monitoring</translation>
    </message>
    <message>
        <source>MIC%1</source>
        <translation>MIC%1</translation>
    </message>
    <message>
        <source>Mic gain</source>
        <translation>Mic gain</translation>
    </message>
    <message>
        <source>Mic %1 gain</source>
        <translation>Mic %1 gain</translation>
    </message>
    <message>
        <source>Mic level</source>
        <translation>Mic level</translation>
    </message>
    <message>
        <source>Mic %1 level</source>
        <translation>Mic %1 level</translation>
    </message>
    <message>
        <source>INST</source>
        <translation>INST</translation>
    </message>
    <message>
        <source>SPEAKER</source>
        <translation>SPEAKER</translation>
    </message>
    <message>
        <source>Phone To SP Volume</source>
        <translation>Phone To SP Volume</translation>
    </message>
    <message>
        <source>Speaker volume</source>
        <translation>Speaker volume</translation>
    </message>
    <message>
        <source>Speaker mute</source>
        <translation>Speaker mute</translation>
    </message>
    <message>
        <source>Speaker dim</source>
        <translation>Speaker dim</translation>
    </message>
    <message>
        <source>Phone to speaker level</source>
        <translation>Phone to speaker level</translation>
    </message>
    <message>
        <source>HEADPHONE</source>
        <translation>HEADPHONE</translation>
    </message>
    <message>
        <source>Phone To HP Volume</source>
        <translation>Phone To HP Volume</translation>
    </message>
    <message>
        <source>Headphone volume</source>
        <translation>Headphone volume</translation>
    </message>
    <message>
        <source>Headphone mute</source>
        <translation>Headphone mute</translation>
    </message>
    <message>
        <source>Headphone dim</source>
        <translation>Headphone dim</translation>
    </message>
    <message>
        <source>Phone to headphone level</source>
        <translation>Phone to headphone level</translation>
    </message>
</context>
<context>
    <name>PanelRecipes</name>
    <message>
        <source>Phone input level</source>
        <translation>Phone input level</translation>
    </message>
    <message>
        <source>Gain</source>
        <translation>Gain</translation>
    </message>
    <message>
        <source>Volume</source>
        <translation>Volume</translation>
    </message>
    <message>
        <source>MUTE</source>
        <translation>MUTE</translation>
    </message>
    <message>
        <source>DIM</source>
        <translation>DIM</translation>
    </message>
</context>
<context>
    <name>PresetBook</name>
    <message>
        <source>A preset needs a name.</source>
        <translation>A preset needs a name.</translation>
    </message>
    <message>
        <source>A preset&apos;s name has at most %1 characters.</source>
        <translation>A preset&apos;s name has at most %1 characters.</translation>
    </message>
    <message>
        <source>A preset&apos;s name cannot start with a dot.</source>
        <translation>A preset&apos;s name cannot start with a dot.</translation>
    </message>
    <message>
        <source>A preset&apos;s name cannot hold control characters or any of %1.</source>
        <translation>A preset&apos;s name cannot hold control characters or any of %1.</translation>
    </message>
    <message>
        <source>There is no preset named &quot;%1&quot;.</source>
        <translation>There is no preset named &quot;%1&quot;.</translation>
    </message>
    <message>
        <source>No interface is connected.</source>
        <translation>No interface is connected.</translation>
    </message>
    <message>
        <source>Saved the preset &quot;%1&quot;.</source>
        <translation>Saved the preset &quot;%1&quot;.</translation>
    </message>
    <message>
        <source>Recalled the preset &quot;%1&quot;.</source>
        <translation>Recalled the preset &quot;%1&quot;.</translation>
    </message>
    <message>
        <source>This %1 lacks %2, saved on a %3, so they were skipped.</source>
        <translation>This %1 lacks %2, saved on a %3, so they were skipped.</translation>
    </message>
    <message>
        <source>The interface refused %1, which kept their previous values.</source>
        <translation>The interface refused %1, which kept their previous values.</translation>
    </message>
    <message>
        <source>There is no recall to undo.</source>
        <translation>There is no recall to undo.</translation>
    </message>
    <message>
        <source>The recall to undo was made on a %1.</source>
        <translation>The recall to undo was made on a %1.</translation>
    </message>
    <message>
        <source>Undid the last recall.</source>
        <translation>Undid the last recall.</translation>
    </message>
    <message>
        <source>A preset named &quot;%1&quot; exists already.</source>
        <translation>A preset named &quot;%1&quot; exists already.</translation>
    </message>
    <message>
        <source>The preset &quot;%1&quot; could not be renamed.</source>
        <translation>The preset &quot;%1&quot; could not be renamed.</translation>
    </message>
    <message>
        <source>Renamed the preset &quot;%1&quot; to &quot;%2&quot;.</source>
        <translation>Renamed the preset &quot;%1&quot; to &quot;%2&quot;.</translation>
    </message>
    <message>
        <source>The preset &quot;%1&quot; could not be deleted.</source>
        <translation>The preset &quot;%1&quot; could not be deleted.</translation>
    </message>
    <message>
        <source>Deleted the preset &quot;%1&quot;.</source>
        <translation>Deleted the preset &quot;%1&quot;.</translation>
    </message>
</context>
<context>
    <name>PresetFile</name>
    <message>
        <source>it cannot be read (%1)</source>
        <translation>it cannot be read (%1)</translation>
    </message>
    <message>
        <source>line %1 is not ini</source>
        <translation>line %1 is not ini</translation>
    </message>
    <message>
        <source>it has no [Preset] group naming its model</source>
        <translation>it has no [Preset] group naming its model</translation>
    </message>
    <message>
        <source>the value of %1 is not a whole number</source>
        <translation>the value of %1 is not a whole number</translation>
    </message>
    <message>
        <source>%1=%2 is outside %3 to %4</source>
        <translation>%1=%2 is outside %3 to %4</translation>
    </message>
    <message>
        <source>it cannot be written</source>
        <translation>it cannot be written</translation>
    </message>
    <message>
        <source>Preset file %1: %2.</source>
        <translation>Preset file %1: %2.</translation>
    </message>
</context>
<context>
    <name>PresetMenu</name>
    <message>
        <source>&amp;Save…</source>
        <translation>&amp;Save…</translation>
    </message>
    <message>
        <source>&amp;Rename…</source>
        <translation>&amp;Rename…</translation>
    </message>
    <message>
        <source>&amp;Delete…</source>
        <translation>&amp;Delete…</translation>
    </message>
    <message>
        <source>&amp;Undo recall</source>
        <translation>&amp;Undo recall</translation>
    </message>
    <message>
        <source>&amp;Presets</source>
        <translation>&amp;Presets</translation>
    </message>
    <message>
        <source>&amp;Presets: %1%2</source>
        <translation>&amp;Presets: %1%2</translation>
    </message>
    <message>
        <source>Save preset</source>
        <translation>Save preset</translation>
    </message>
    <message>
        <source>Name of the preset:</source>
        <translation>Name of the preset:</translation>
    </message>
    <message>
        <source>Replace the preset &quot;%1&quot;?</source>
        <translation>Replace the preset &quot;%1&quot;?</translation>
    </message>
    <message>
        <source>Rename preset</source>
        <translation>Rename preset</translation>
    </message>
    <message>
        <source>New name of &quot;%1&quot;:</source>
        <translation>New name of &quot;%1&quot;:</translation>
    </message>
    <message>
        <source>Delete preset</source>
        <translation>Delete preset</translation>
    </message>
    <message>
        <source>Delete the preset &quot;%1&quot;?</source>
        <translation>Delete the preset &quot;%1&quot;?</translation>
    </message>
    <message>
        <source>Preset:</source>
        <translation>Preset:</translation>
    </message>
    <message>
        <source>Presets</source>
        <translation>Presets</translation>
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
    <message>
        <source>Enabled</source>
        <translation>Enabled</translation>
    </message>
    <message>
        <source>Disabled</source>
        <translation>Disabled</translation>
    </message>
</context>
<context>
    <name>TrayIcon</name>
    <message>
        <source>文件格式有误</source>
        <translation>the file is malformed</translation>
    </message>
    <message>
        <source>文件或其所在的文件夹无法写入（磁盘已满、只读或不是文件）</source>
        <translation>the file or its folder cannot be written (disk full, read-only, or not a file)</translation>
    </message>
    <message>
        <source>更改未保存</source>
        <translation>Changes not saved</translation>
    </message>
    <message>
        <source>%1 无法保存：%2。声卡已采用更改，但下次启动时不会恢复。每次更改时都会重试。</source>
        <translation>%1 cannot be saved: %2. The interface took your changes, but the next start will not restore them. Each change tries again.</translation>
    </message>
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
