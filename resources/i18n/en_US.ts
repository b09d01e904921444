<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="ru_RU">
<context>
    <name>Main</name>
    <message>
        <location filename="../../qml/Main.qml" line="14"/>
        <source>QUORVEX ORDER SCREEN V4</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../qml/Main.qml" line="30"/>
        <source>Версия приложения %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
