<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1">
<context>
    <name>MainWindow</name>
    <message>
        <source>Device change to MODBUS!</source>
        <translation>设备转换为MODBUS协议！</translation>
    </message>
    <message>
        <source>Device change to FactoryConfig!</source>
        <translation>设备已恢复出厂设置！</translation>
    </message>
    <message>
        <source>Device change to Vela!</source>
        <translation>设备转换为维拉自有协议！</translation>
    </message>
    <message>
        <source>Set Calibrate Param Success!</source>
        <translation>设置标定系数成功！</translation>
    </message>
</context>
</TS>
