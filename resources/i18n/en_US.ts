<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="ru_RU">
<context>
    <name>Main</name>
    <message>
        <location filename="../../qml/Main.qml" line="16"/>
        <source>QUORVEX ORDER SCREEN V4</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../qml/Main.qml" line="74"/>
        <source>Версия приложения %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>OrderPriceWidget</name>
    <message>
        <location filename="../../qml/QVUI/Widgets/OrderPriceWidget.qml" line="38"/>
        <source>К оплате</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../qml/QVUI/Widgets/OrderPriceWidget.qml" line="73"/>
        <source>Скидка</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../qml/QVUI/Widgets/OrderPriceWidget.qml" line="98"/>
        <source>Бонусы</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>PaymentDialog</name>
    <message>
        <location filename="../../qml/QVUI/Entities/PaymentDialog.qml" line="64"/>
        <source>Сумма к оплате</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../qml/QVUI/Entities/PaymentDialog.qml" line="113"/>
        <source>Воспользуйтесь терминалом для оплаты</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>QRPaymentDialog</name>
    <message>
        <location filename="../../qml/QVUI/Entities/QRPaymentDialog.qml" line="153"/>
        <source>Сумма к оплате</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../qml/QVUI/Entities/QRPaymentDialog.qml" line="161"/>
        <source>Скидка</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../qml/QVUI/Entities/QRPaymentDialog.qml" line="169"/>
        <source>Начислим бонусов</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>QVWaitingDialog</name>
    <message>
        <location filename="../../qml/QVUI/UIKit/QVWaitingDialog.qml" line="85"/>
        <source>Ожидание подключения</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../../qml/QVUI/UIKit/QVWaitingDialog.qml" line="98"/>
        <source>Доступные ip для подключения:</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ReceiptItemsWidget</name>
    <message>
        <location filename="../../qml/QVUI/Widgets/ReceiptItemsWidget.qml" line="52"/>
        <source>Добро пожаловать!</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
