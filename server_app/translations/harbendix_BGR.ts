<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="bg_BG" sourcelanguage="en_US">
<context>
    <name>QGnomeTheme</name>
    <message>
        <source>&amp;OK</source>
        <translation>&amp;OK</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>&amp;Отказ</translation>
    </message>
</context>
<context>
    <name>QPlatformTheme</name>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отказ</translation>
    </message>
    <message>
        <source>&amp;Yes</source>
        <translation>&amp;Да</translation>
    </message>
    <message>
        <source>&amp;No</source>
        <translation>&amp;Не</translation>
    </message>
</context>
<context>
    <name>TfmAccess</name>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отказ</translation>
    </message>
    <message>
        <source>Server Password:</source>
        <translation>Парола на сървъра:</translation>
    </message>
    <message>
        <source>Verification:</source>
        <translation>Потвърждение:</translation>
    </message>
    <message>
        <source>Apply SET password</source>
        <translation>Приложи паролата на SET</translation>
    </message>
    <message>
        <source>SET No:</source>
        <translation>SET №:</translation>
    </message>
    <message>
        <source>SET Password:</source>
        <translation>Парола на SET:</translation>
    </message>
    <message>
        <source>Bad verification!</source>
        <translation>Грешно потвърждение!</translation>
    </message>
</context>
<context>
    <name>TfmEcrSearch</name>
    <message>
        <source>Testing for ECR %1 at speed %2 ... </source>
        <translation>Проверка за ЕКА %1 при скорост %2 ... </translation>
    </message>
    <message>
        <source>None</source>
        <translation>Няма</translation>
    </message>
    <message>
        <source>Exception !</source>
        <translation>Изключение !</translation>
    </message>
    <message>
        <source>InLine</source>
        <translation>InLine</translation>
    </message>
    <message>
        <source>OnLine</source>
        <translation>OnLine</translation>
    </message>
    <message>
        <source>Discovered ECRs:</source>
        <translation>Открити касови апарати:</translation>
    </message>
    <message>
        <source>ECR</source>
        <translation>ЕКА</translation>
    </message>
    <message>
        <source>Speed</source>
        <translation>Скорост</translation>
    </message>
    <message>
        <source>Mode</source>
        <translation>Режим</translation>
    </message>
    <message>
        <source>Ser.Num.</source>
        <translation>Сер.№</translation>
    </message>
    <message>
        <source>Actions:</source>
        <translation>Действия:</translation>
    </message>
    <message>
        <source>Speeds:</source>
        <translation>Скорости:</translation>
    </message>
    <message>
        <source>From ECR:</source>
        <translation>От ЕКА:</translation>
    </message>
    <message>
        <source>To ECR:</source>
        <translation>До ЕКА:</translation>
    </message>
    <message>
        <source>Start search</source>
        <translation>Начало на търсенето</translation>
    </message>
    <message>
        <source>Stop search</source>
        <translation>Спиране на търсенето</translation>
    </message>
    <message>
        <source>&amp;Close</source>
        <translation>&amp;Затвори</translation>
    </message>
    <message>
        <source>Search for ECRs on %1</source>
        <translation>Търсене на касови апарати на %1</translation>
    </message>
    <message>
        <source>Please, enter valid value for &quot;From ECR&quot; !</source>
        <translation>Моля, въведете валидна стойност за &quot;От ЕКА&quot; !</translation>
    </message>
    <message>
        <source>Please, enter valid value for &quot;To ECR&quot; !</source>
        <translation>Моля, въведете валидна стойност за &quot;До ЕКА&quot; !</translation>
    </message>
    <message>
        <source>From ECR &gt; To Ecr !</source>
        <translation>От ЕКА &gt; До ЕКА !</translation>
    </message>
    <message>
        <source>There is not marked speeds for test !</source>
        <translation>Няма отбелязани скорости за теста !</translation>
    </message>
</context>
<context>
    <name>TfmLangSel</name>
    <message>
        <source>Available code tables</source>
        <translation>Налични кодови таблици</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отказ</translation>
    </message>
    <message>
        <source>Current code table: %1</source>
        <translation>Текуща кодова таблица: %1</translation>
    </message>
</context>
<context>
    <name>TfmLanguageSelection</name>
    <message>
        <source>Language Selection</source>
        <translation>Избор на език</translation>
    </message>
    <message>
        <source>Active Language</source>
        <translation>Активен език</translation>
    </message>
    <message>
        <source>Selected Language</source>
        <translation>Избран език</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отказ</translation>
    </message>
    <message>
        <source>No Active Language</source>
        <translation>Няма активен език</translation>
    </message>
    <message>
        <source>Are sure you want to change language?</source>
        <translation>Сигурни ли сте, че искате да смените езика?</translation>
    </message>
    <message>
        <source>Language changed.<byte value="xd"/>
The program needs restart for chages to take effect.<byte value="xd"/>
Close program now?</source>
        <translation>Езикът е сменен.<byte value="xd"/>
Програмата трябва да се рестартира, за да влязат промените в сила.<byte value="xd"/>
Да се затвори ли програмата сега?</translation>
    </message>
    <message>
        <source>%1<byte value="xd"/>
not found</source>
        <translation>%1<byte value="xd"/>
не е намерен</translation>
    </message>
    <message>
        <source>Unable to open created Reg Key</source>
        <translation>Не може да се отвори създаденият ключ в регистъра</translation>
    </message>
    <message>
        <source>ERROR</source>
        <translation>ГРЕШКА</translation>
    </message>
</context>
<context>
    <name>TfmMain</name>
    <message>
        <source>Port: </source>
        <translation>Порт: </translation>
    </message>
    <message>
        <source>Speed: </source>
        <translation>Скорост: </translation>
    </message>
    <message>
        <source>IP Port: </source>
        <translation>IP порт: </translation>
    </message>
    <message>
        <source>Old FP</source>
        <translation>Стар ФП</translation>
    </message>
    <message>
        <source>Server STOPPED</source>
        <translation>Сървърът е СПРЯН</translation>
    </message>
    <message>
        <source>Code table: </source>
        <translation>Кодова таблица: </translation>
    </message>
    <message>
        <source>&amp;Access</source>
        <translation>&amp;Достъп</translation>
    </message>
    <message>
        <source>&amp;Offset</source>
        <translation>&amp;Отместване</translation>
    </message>
    <message>
        <source>Server &amp;Ports</source>
        <translation>&amp;Портове на сървъра</translation>
    </message>
    <message>
        <source>&amp;Code table</source>
        <translation>&amp;Кодова таблица</translation>
    </message>
    <message>
        <source>&amp;Search for ECRs</source>
        <translation>&amp;Търсене на касови апарати</translation>
    </message>
    <message>
        <source>&amp;Test line</source>
        <translation>Тест на &amp;линията</translation>
    </message>
    <message>
        <source>La&amp;nguage</source>
        <translation>&amp;Език</translation>
    </message>
    <message>
        <source>S&amp;tatus</source>
        <translation>С&amp;ъстояние</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Помощ</translation>
    </message>
    <message>
        <source>&amp;Start</source>
        <translation>&amp;Старт</translation>
    </message>
    <message>
        <source>E&amp;xit</source>
        <translation>&amp;Изход</translation>
    </message>
    <message>
        <source>&amp;Stop</source>
        <translation>&amp;Стоп</translation>
    </message>
</context>
<context>
    <name>TfmOffset</name>
    <message>
        <source>Offset:</source>
        <translation>Отместване:</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отказ</translation>
    </message>
    <message>
        <source>Bad number!</source>
        <translation>Невалидно число!</translation>
    </message>
</context>
<context>
    <name>TfmPassword</name>
    <message>
        <source>Enter administrator password:</source>
        <translation>Въведете паролата на администратора:</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отказ</translation>
    </message>
    <message>
        <source>Incorrect Password</source>
        <translation>Грешна парола</translation>
    </message>
</context>
<context>
    <name>TfmPorts</name>
    <message>
        <source> COM Settings </source>
        <translation> Настройки на COM порта </translation>
    </message>
    <message>
        <source>&amp;Speed:</source>
        <translation>&amp;Скорост:</translation>
    </message>
    <message>
        <source>ComPort:</source>
        <translation>COM порт:</translation>
    </message>
    <message>
        <source> Socket Settings </source>
        <translation> Настройки на сокета </translation>
    </message>
    <message>
        <source>&amp;IP Port:</source>
        <translation>&amp;IP порт:</translation>
    </message>
    <message>
        <source>&amp;OK</source>
        <translation>&amp;OK</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>&amp;Отказ</translation>
    </message>
    <message>
        <source>Please, enter valid value for &quot;IP Port&quot; !</source>
        <translation>Моля, въведете валидна стойност за &quot;IP порт&quot; !</translation>
    </message>
</context>
<context>
    <name>TfmSelvaroStatus</name>
    <message>
        <source>Log No</source>
        <translation>Лог. №</translation>
    </message>
    <message>
        <source>Ser No</source>
        <translation>Сер. №</translation>
    </message>
    <message>
        <source>Mode</source>
        <translation>Режим</translation>
    </message>
    <message>
        <source>SET:ID</source>
        <translation>SET:ID</translation>
    </message>
    <message>
        <source>Off</source>
        <translation>Изкл.</translation>
    </message>
    <message>
        <source>InLine</source>
        <translation>InLine</translation>
    </message>
    <message>
        <source>OnLine</source>
        <translation>OnLine</translation>
    </message>
    <message>
        <source>Prn</source>
        <translation>Печат</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Състояние</translation>
    </message>
    <message>
        <source>Support</source>
        <translation>Поддръжка</translation>
    </message>
    <message>
        <source>Served ECRs</source>
        <translation>Обслужвани касови апарати</translation>
    </message>
</context>
<context>
    <name>TfmTestLine</name>
    <message>
        <source>Test line</source>
        <translation>Тест на линията</translation>
    </message>
    <message>
        <source> Config </source>
        <translation> Настройки </translation>
    </message>
    <message>
        <source>ECR logical number:</source>
        <translation>Логически номер на ЕКА:</translation>
    </message>
    <message>
        <source> Results </source>
        <translation> Резултати </translation>
    </message>
    <message>
        <source>Sended blocks:</source>
        <translation>Изпратени блокове:</translation>
    </message>
    <message>
        <source>Received blocks:</source>
        <translation>Получени блокове:</translation>
    </message>
    <message>
        <source>CRC errors:</source>
        <translation>Грешки в CRC:</translation>
    </message>
    <message>
        <source>Byte timeout errors:</source>
        <translation>Изтекло време за байт:</translation>
    </message>
    <message>
        <source>Timeout errors:</source>
        <translation>Изтекло време за отговор:</translation>
    </message>
    <message>
        <source>&amp;Start test</source>
        <translation>&amp;Старт на теста</translation>
    </message>
    <message>
        <source>&amp;Stop test</source>
        <translation>&amp;Стоп на теста</translation>
    </message>
    <message>
        <source>&amp;Close</source>
        <translation>&amp;Затвори</translation>
    </message>
    <message>
        <source>port: %1  speed: %2</source>
        <translation>порт: %1  скорост: %2</translation>
    </message>
    <message>
        <source>Please, enter valid value for &quot;ECR&quot; !</source>
        <translation>Моля, въведете валидна стойност за &quot;ЕКА&quot; !</translation>
    </message>
</context>
<context>
    <name>TfrCompanyInfoKv</name>
    <message>
        <source>Phone: %1</source>
        <translation>Телефон: %1</translation>
    </message>
    <message>
        <source>Fax: %1</source>
        <translation>Факс: %1</translation>
    </message>
    <message>
        <source>e-mail:</source>
        <translation>Ел. поща:</translation>
    </message>
</context>
<context>
    <name>TfrCompanyInfoZq</name>
    <message>
        <source>Phone: %1</source>
        <translation>Телефон: %1</translation>
    </message>
    <message>
        <source>Fax: %1</source>
        <translation>Факс: %1</translation>
    </message>
    <message>
        <source>e-mail:</source>
        <translation>Ел. поща:</translation>
    </message>
</context>
<context>
    <name>TrayStandIn</name>
    <message>
        <source>&amp;Menu</source>
        <translation>&amp;Меню</translation>
    </message>
</context>
</TS>
