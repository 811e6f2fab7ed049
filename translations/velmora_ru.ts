<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU">
<context>
    <name>Velmora</name>
    <message>
        <source>Silence</source>
        <translation>Тишина</translation>
    </message>
    <message>
        <source>[%1] The operator silenced the alert raised at %2.</source>
        <translation>[%1] Оператор выключил звук тревоги, поднятой в %2.</translation>
    </message>
    <message>
        <source>Alarms are not getting through since %1. %2</source>
        <translation>Тревоги не доходят до ПЦН с %1. %2</translation>
    </message>
    <message>
        <source>Silenced</source>
        <translation>Звук выключен</translation>
    </message>
    <message>
        <source>[%1] Can not use the event journal in PostgreSQL: %2.</source>
        <translation>[%1] Невозможно использовать журнал событий в PostgreSQL: %2.</translation>
    </message>
    <message>
        <source>[%1] Standby: waiting for the lease of the event journal in PostgreSQL.</source>
        <translation>[%1] Резерв: ожидание аренды журнала событий в PostgreSQL.</translation>
    </message>
    <message>
        <source>[%1] Active: this instance holds the journal&apos;s lease; events to send: %2.</source>
        <translation>[%1] Активен: этот экземпляр держит аренду журнала; событий к отправке: %2.</translation>
    </message>
    <message>
        <source>[%1] %2 of them had been sent before the takeover and may reach the monitoring software twice.</source>
        <translation>[%1] %2 из них были отправлены до перехода и могут дойти до ПО мониторинга дважды.</translation>
    </message>
    <message>
        <source>[%1] Standby: %2. Devices are disconnected and the line is closed until this instance holds the lease again.</source>
        <translation>[%1] Резерв: %2. Устройства отключены, линия закрыта, пока этот экземпляр снова не получит аренду.</translation>
    </message>
    <message>
        <source>[%1] The journal&apos;s database does not answer: %2. Devices get no ACK until it does.</source>
        <translation>[%1] База данных журнала не отвечает: %2. Устройства не получают ACK, пока она не ответит.</translation>
    </message>
    <message>
        <source>[%1] The journal&apos;s database answers again.</source>
        <translation>[%1] База данных журнала снова отвечает.</translation>
    </message>
    <message>
        <source>Standby: another instance holds the journal&apos;s lease</source>
        <translation>Резерв: аренду журнала держит другой экземпляр</translation>
    </message>
    <message>
        <source>[%1] Initialization log file was successfull.</source>
        <translation>[%1] Лог-файл успешно инициализирован.</translation>
    </message>
    <message>
        <source>[%1] Can not lock the application directory: %2.</source>
        <translation>[%1] Не удалось заблокировать папку программы: %2.</translation>
    </message>
    <message>
        <source>Lumari is already running in %1. This copy ends without touching its journal or its settings.</source>
        <translation>Lumari уже запущен в папке %1. Эта копия завершается, не трогая журнал событий и настройки.</translation>
    </message>
    <message>
        <source>[%1] Settings read from %2; default or replacement values used for: %3.</source>
        <translation>[%1] Настройки прочитаны из %2; значения по умолчанию или замены использованы для: %3.</translation>
    </message>
    <message>
        <source>[%1] Can not keep a copy of %2; it is left as it is and the default settings are used.</source>
        <translation>[%1] Не удалось сохранить копию %2; файл оставлен как есть, используются настройки по умолчанию.</translation>
    </message>
    <message>
        <source>[%1] Can not create com thread...</source>
        <translation>[%1] Не удалось создать поток COM-порта...</translation>
    </message>
    <message>
        <source>[%1] Can not start com thread...</source>
        <translation>[%1] Не удалось запустить поток COM-порта...</translation>
    </message>
    <message>
        <source>[%1] Can not create network thread...</source>
        <translation>[%1] Не удалось создать сетевой поток...</translation>
    </message>
    <message>
        <source>[%1] Can not start network thread...</source>
        <translation>[%1] Не удалось запустить сетевой поток...</translation>
    </message>
    <message>
        <source>[%1] Can not open the event journal: %2. Devices get no ACK until it can be written.</source>
        <translation>[%1] Не удалось открыть журнал событий: %2. Приборы не получат подтверждений, пока запись в журнал невозможна.</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Настройки</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Выход</translation>
    </message>
    <message>
        <source>Program name: </source>
        <translation>Программа: </translation>
    </message>
    <message>
        <source>Version: </source>
        <translation>Версия: </translation>
    </message>
    <message>
        <source>Date: </source>
        <translation>Дата: </translation>
    </message>
    <message>
        <source>Warning!</source>
        <translation>Внимание!</translation>
    </message>
    <message>
        <source>Do you really want to exit?</source>
        <translation>Вы действительно хотите выйти?</translation>
    </message>
    <message>
        <source>Yes</source>
        <translation>Да</translation>
    </message>
    <message>
        <source>No</source>
        <translation>Нет</translation>
    </message>
    <message>
        <source>Count of connections: </source>
        <translation>Подключений: </translation>
    </message>
    <message>
        <source>Events waiting for the monitoring software: </source>
        <translation>Ждут программу мониторинга: </translation>
    </message>
    <message>
        <source>Events</source>
        <translation>События</translation>
    </message>
    <message>
        <source>Events held for the monitoring software and set aside</source>
        <translation>События, удерживаемые для программы мониторинга, и отложенные</translation>
    </message>
    <message>
        <source>Devices</source>
        <translation>Устройства</translation>
    </message>
    <message>
        <source>Connected devices and those that left during the last 24 hours</source>
        <translation>Подключённые устройства и отключившиеся за последние 24 часа</translation>
    </message>
    <message>
        <source>Absent devices: %1</source>
        <translation>Отсутствуют устройства: %1</translation>
    </message>
    <message>
        <source>Refused devices: %1</source>
        <translation>Отклонены устройства: %1</translation>
    </message>
    <message>
        <source>Known devices, their supervision, and the connections of the last 24 hours</source>
        <translation>Известные устройства, контроль связи с ними и подключения за последние 24 часа</translation>
    </message>
</context>
<context>
    <name>VelmoraConfWidget</name>
    <message>
        <source>The fallback output has to be another port or address than &quot;COM:&quot;.</source>
        <translation>Резервный выход должен быть другим портом или адресом, чем «COM-порт».</translation>
    </message>
    <message>
        <source>ACK wait (ms):</source>
        <translation>Ожидание ACK (мс):</translation>
    </message>
    <message>
        <source>Fallback output:</source>
        <translation>Резервный выход:</translation>
    </message>
    <message>
        <source>TCP-Settings:</source>
        <translation>Настройки TCP:</translation>
    </message>
    <message>
        <source>Port:</source>
        <translation>Порт:</translation>
    </message>
    <message>
        <source>COM-Settings:</source>
        <translation>Настройки COM:</translation>
    </message>
    <message>
        <source>COM:</source>
        <translation>COM-порт:</translation>
    </message>
    <message>
        <source>Baudrate:</source>
        <translation>Скорость:</translation>
    </message>
    <message>
        <source>Databits:</source>
        <translation>Биты данных:</translation>
    </message>
    <message>
        <source>Parity:</source>
        <translation>Чётность:</translation>
    </message>
    <message>
        <source>Stopbits:</source>
        <translation>Стоповые биты:</translation>
    </message>
    <message>
        <source>Server:</source>
        <translation>Сервер:</translation>
    </message>
    <message>
        <source>Line:</source>
        <translation>Линия:</translation>
    </message>
    <message>
        <source>Keepalive time (secs):</source>
        <translation>Keepalive (сек):</translation>
    </message>
    <message>
        <source>Append time:</source>
        <translation>Добавлять время:</translation>
    </message>
    <message>
        <source>Apply</source>
        <translation>Применить</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
    <message>
        <source>No Parity</source>
        <translation>Нет</translation>
    </message>
    <message>
        <source>Odd Parity</source>
        <translation>Нечёт</translation>
    </message>
    <message>
        <source>Even Parity</source>
        <translation>Чёт</translation>
    </message>
    <message>
        <source>No</source>
        <translation>Нет</translation>
    </message>
    <message>
        <source>Yes</source>
        <translation>Да</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not a valid address. Write it as tcp://HOST:PORT with a port from 1 to 65535, for example tcp://192.168.1.10:1025.</source>
        <translation>«%1» — неверный адрес. Укажите его в виде tcp://ХОСТ:ПОРТ с портом от 1 до 65535, например tcp://192.168.1.10:1025.</translation>
    </message>
    <message>
        <source>Choose or type the port name.</source>
        <translation>Выберите или введите имя порта.</translation>
    </message>
    <message>
        <source>Additional settings:</source>
        <translation>Дополнительные настройки:</translation>
    </message>
    <message>
        <source>Keep day logs (days, 0 = all):</source>
        <translation>Хранить дневные логи (дней, 0 - все):</translation>
    </message>
    <message>
        <source>Supervision (secs, 0 = off):</source>
        <translation>Контроль связи (сек, 0 - нет):</translation>
    </message>
    <message>
        <source>Devices:</source>
        <translation>Устройства:</translation>
    </message>
    <message>
        <source>all</source>
        <translation>все</translation>
    </message>
    <message>
        <source>only listed</source>
        <translation>из списка</translation>
    </message>
    <message>
        <source>Status page address:</source>
        <translation>Адрес страницы состояния:</translation>
    </message>
    <message>
        <source>off</source>
        <translation>выкл.</translation>
    </message>
    <message>
        <source>ADDRESS:PORT, for example 127.0.0.1:8080; empty: off</source>
        <translation>АДРЕС:ПОРТ, например 127.0.0.1:8080; пусто: выкл.</translation>
    </message>
    <message>
        <source>set</source>
        <translation>задан</translation>
    </message>
    <message>
        <source>none</source>
        <translation>нет</translation>
    </message>
    <message>
        <source>Status page password:</source>
        <translation>Пароль страницы состояния:</translation>
    </message>
    <message>
        <source>Remove the password</source>
        <translation>Удалить пароль</translation>
    </message>
    <message>
        <source>set; type a new one to change it</source>
        <translation>задан; введите новый, чтобы сменить</translation>
    </message>
    <message>
        <source>none: the page is read-only</source>
        <translation>не задан: страница только для просмотра</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not a valid status page address. Write it as ADDRESS:PORT, for example 127.0.0.1:8080, or leave it empty.</source>
        <translation>«%1» — неверный адрес страницы состояния. Укажите его как АДРЕС:ПОРТ, например 127.0.0.1:8080, или оставьте поле пустым.</translation>
    </message>
    <message>
        <source>The status page on %1, which is not a loopback address, needs a password.</source>
        <translation>Для страницы состояния на %1 (это не адрес loopback) нужен пароль.</translation>
    </message>
</context>
<context>
    <name>VelmoraDevicesModel</name>
    <message>
        <source>Device ID</source>
        <translation>ID устройства</translation>
    </message>
    <message>
        <source>Address</source>
        <translation>Адрес</translation>
    </message>
    <message>
        <source>Connected since</source>
        <translation>Подключено с</translation>
    </message>
    <message>
        <source>Last frame</source>
        <translation>Последний пакет</translation>
    </message>
    <message>
        <source>Last periodic test</source>
        <translation>Последний периодический тест</translation>
    </message>
    <message>
        <source>Frames</source>
        <translation>Пакетов</translation>
    </message>
    <message>
        <source>MAC</source>
        <translation>MAC-ключ</translation>
    </message>
    <message>
        <source>Disconnected</source>
        <translation>Отключено</translation>
    </message>
    <message>
        <source>none</source>
        <translation>нет</translation>
    </message>
    <message>
        <source>known</source>
        <translation>известен</translation>
    </message>
    <message>
        <source>not known</source>
        <translation>неизвестен</translation>
    </message>
    <message>
        <source>Description</source>
        <translation>Описание</translation>
    </message>
    <message>
        <source>Supervision (s)</source>
        <translation>Контроль (с)</translation>
    </message>
    <message>
        <source>State</source>
        <translation>Состояние</translation>
    </message>
</context>
<context>
    <name>VelmoraDevicesWindow</name>
    <message>
        <source>Devices</source>
        <translation>Устройства</translation>
    </message>
    <message>
        <source>Connected: %1. Disconnected during the last 24 hours: %2.</source>
        <translation>Подключено: %1. Отключилось за последние 24 часа: %2.</translation>
    </message>
    <message>
        <source>Device lists (*.csv)</source>
        <translation>Списки устройств (*.csv)</translation>
    </message>
    <message>
        <source>Admit</source>
        <translation>Допустить</translation>
    </message>
    <message>
        <source>Add the refused device&apos;s row to the device list</source>
        <translation>Добавить отклонённое устройство в список устройств</translation>
    </message>
    <message>
        <source>Accept new MAC</source>
        <translation>Принять новый MAC</translation>
    </message>
    <message>
        <source>Edit...</source>
        <translation>Изменить...</translation>
    </message>
    <message>
        <source>Description and supervision period, written to the device list</source>
        <translation>Описание и период контроля связи, записываются в список устройств</translation>
    </message>
    <message>
        <source>Forget</source>
        <translation>Забыть</translation>
    </message>
    <message>
        <source>The device is no longer known nor supervised</source>
        <translation>Устройство больше не известно и не контролируется</translation>
    </message>
    <message>
        <source>Import...</source>
        <translation>Импорт...</translation>
    </message>
    <message>
        <source>Export...</source>
        <translation>Экспорт...</translation>
    </message>
    <message>
        <source>Import the device list</source>
        <translation>Импорт списка устройств</translation>
    </message>
    <message>
        <source>Export the device list</source>
        <translation>Экспорт списка устройств</translation>
    </message>
    <message>
        <source>Absent: %1. Refused: %2.</source>
        <translation>Нет связи: %1. Отклонено: %2.</translation>
    </message>
    <message>
        <source>Can not write the device list %1: %2.</source>
        <translation>Невозможно записать список устройств %1: %2.</translation>
    </message>
    <message>
        <source>Admit device %1? Its row is added to %2 and its next frame is acknowledged.</source>
        <translation>Допустить устройство %1? Его строка будет добавлена в %2, и его следующий пакет будет подтверждён.</translation>
    </message>
    <message>
        <source>Operator admitted device %1: its row was added to %2.</source>
        <translation>Оператор допустил устройство %1: его строка добавлена в %2.</translation>
    </message>
    <message>
        <source>Accept MAC %1 for device %2 in place of %3?</source>
        <translation>Принять MAC %1 для устройства %2 вместо %3?</translation>
    </message>
    <message>
        <source>Operator accepted MAC %2 for device %1 (was %3).</source>
        <translation>Оператор принял MAC %2 для устройства %1 (был %3).</translation>
    </message>
    <message>
        <source>Forget device %1? It is no longer supervised, and its row is taken out of %2.</source>
        <translation>Забыть устройство %1? Связь с ним больше не контролируется, его строка удаляется из %2.</translation>
    </message>
    <message>
        <source>Operator forgot device %1.</source>
        <translation>Оператор удалил устройство %1.</translation>
    </message>
    <message>
        <source>Device %1</source>
        <translation>Устройство %1</translation>
    </message>
    <message>
        <source>as configured</source>
        <translation>как в настройках</translation>
    </message>
    <message>
        <source>Description:</source>
        <translation>Описание:</translation>
    </message>
    <message>
        <source>Supervision period (secs, 0 = none):</source>
        <translation>Период контроля связи (сек, 0 - нет):</translation>
    </message>
    <message>
        <source>Operator changed device %1 in %2: description &quot;%3&quot;, period %4.</source>
        <translation>Оператор изменил устройство %1 в %2: описание &quot;%3&quot;, период %4.</translation>
    </message>
    <message>
        <source>Replace the device list with the %1 device(s) of %2? %3 row(s) of it are not usable.</source>
        <translation>Заменить список устройств на %1 устройств(а) из %2? Непригодных строк в нём: %3.</translation>
    </message>
    <message>
        <source>Operator imported the device list %1 into %2: %3 device(s).</source>
        <translation>Оператор импортировал список устройств %1 в %2: устройств %3.</translation>
    </message>
    <message>
        <source>Operator exported %1 device(s) to %2.</source>
        <translation>Оператор экспортировал устройств: %1 в %2.</translation>
    </message>
</context>
<context>
    <name>VelmoraEventsWindow</name>
    <message>
        <source>Send again</source>
        <translation>Отправить повторно</translation>
    </message>
    <message>
        <source>Release</source>
        <translation>Снять</translation>
    </message>
    <message>
        <source>Export…</source>
        <translation>Экспорт…</translation>
    </message>
    <message>
        <source>Events</source>
        <translation>События</translation>
    </message>
    <message>
        <source>Held: %1, set aside: %2</source>
        <translation>Удерживается: %1, отложено: %2</translation>
    </message>
    <message>
        <source>Send this event to the monitoring software again?

%1</source>
        <translation>Отправить это событие программе мониторинга повторно?

%1</translation>
    </message>
    <message>
        <source>Release this event? It will not be sent, and the journal no longer keeps it.

%1</source>
        <translation>Снять это событие? Оно не будет отправлено, и журнал больше не будет его хранить.

%1</translation>
    </message>
    <message>
        <source>Export events</source>
        <translation>Экспорт событий</translation>
    </message>
    <message>
        <source>CSV files (*.csv)</source>
        <translation>Файлы CSV (*.csv)</translation>
    </message>
    <message>
        <source>Could not write %1: %2</source>
        <translation>Не удалось записать %1: %2</translation>
    </message>
</context>
<context>
    <name>VelmoraHeldEventsModel</name>
    <message>
        <source>Received</source>
        <translation>Получено</translation>
    </message>
    <message>
        <source>Device ID</source>
        <translation>ID устройства</translation>
    </message>
    <message>
        <source>Peer address</source>
        <translation>Адрес</translation>
    </message>
    <message>
        <source>Account</source>
        <translation>Объект</translation>
    </message>
    <message>
        <source>Event</source>
        <translation>Событие</translation>
    </message>
    <message>
        <source>Group</source>
        <translation>Группа</translation>
    </message>
    <message>
        <source>Zone</source>
        <translation>Зона</translation>
    </message>
    <message>
        <source>Line</source>
        <translation>Строка</translation>
    </message>
    <message>
        <source>Attempts</source>
        <translation>Попытки</translation>
    </message>
    <message>
        <source>State</source>
        <translation>Состояние</translation>
    </message>
    <message>
        <source>waiting</source>
        <translation>ожидает</translation>
    </message>
    <message>
        <source>refused, kept until the next event</source>
        <translation>отклонено, ждёт следующего события</translation>
    </message>
    <message>
        <source>set aside</source>
        <translation>отложено</translation>
    </message>
</context>
<context>
    <name>VelmoraLineStateText</name>
    <message>
        <source>port closed (%1)</source>
        <translation>порт закрыт (%1)</translation>
    </message>
    <message>
        <source>port open, no answer yet</source>
        <translation>порт открыт, ответа ещё нет</translation>
    </message>
    <message>
        <source>answering</source>
        <translation>отвечает</translation>
    </message>
    <message>
        <source>not answering since %1</source>
        <translation>не отвечает с %1</translation>
    </message>
    <message>
        <source>refuses events since %1</source>
        <translation>отвергает события с %1</translation>
    </message>
    <message>
        <source>Line: fallback %1 %2, primary %3</source>
        <translation>Линия: резервный %1 %2, основной %3</translation>
    </message>
    <message>
        <source>Line: %1, fallback %2 %3</source>
        <translation>Линия: %1, резервный %2 %3</translation>
    </message>
    <message>
        <source>Line: port closed (%1)</source>
        <translation>Линия: порт закрыт (%1)</translation>
    </message>
    <message>
        <source>Line: port open, no answer yet</source>
        <translation>Линия: порт открыт, ответа ещё не было</translation>
    </message>
    <message>
        <source>Line: answering</source>
        <translation>Линия: отвечает</translation>
    </message>
    <message>
        <source>Line: not answering since %1</source>
        <translation>Линия: не отвечает с %1</translation>
    </message>
    <message>
        <source>Line: refuses events since %1</source>
        <translation>Линия: отклоняет события с %1</translation>
    </message>
    <message>
        <source>, set aside: %1</source>
        <translation>, отложено: %1</translation>
    </message>
</context>
<context>
    <name>VelmoraStatusEndpoint</name>
    <message>
        <source>[%1] The status page is off: LUMARIHTTP &quot;%2&quot; is not ADDRESS:PORT.</source>
        <translation>[%1] Страница состояния выключена: LUMARIHTTP "%2" не в форме АДРЕС:ПОРТ.</translation>
    </message>
    <message>
        <source>[%1] The status page is off: listening on %2, which is not a loopback address, needs a password (LUMARIHTTPPASSWORD).</source>
        <translation>[%1] Страница состояния выключена: для адреса %2, не петлевого, нужен пароль (LUMARIHTTPPASSWORD).</translation>
    </message>
    <message>
        <source>[%1] Unable to listen %2 for the status page: %3.</source>
        <translation>[%1] Невозможно слушать %2 для страницы состояния: %3.</translation>
    </message>
    <message>
        <source>[%1] Status page listening on %2.</source>
        <translation>[%1] Страница состояния доступна на %2.</translation>
    </message>
</context>
<context>
    <name>VelmoraStatusPage</name>
    <message>
        <source>Events held for the monitoring software and set aside</source>
        <translation>События, удерживаемые для программы мониторинга, и отложенные</translation>
    </message>
    <message>
        <source>Devices</source>
        <translation>Устройства</translation>
    </message>
    <message>
        <source>Line</source>
        <translation>Строка</translation>
    </message>
    <message>
        <source>State</source>
        <translation>Состояние</translation>
    </message>
    <message>
        <source>Attempts</source>
        <translation>Попытки</translation>
    </message>
    <message>
        <source>Received</source>
        <translation>Получено</translation>
    </message>
    <message>
        <source>Address</source>
        <translation>Адрес</translation>
    </message>
    <message>
        <source>Device</source>
        <translation>Устройство</translation>
    </message>
    <message>
        <source>Connected</source>
        <translation>Подключено</translation>
    </message>
    <message>
        <source>Last frame</source>
        <translation>Последний пакет</translation>
    </message>
    <message>
        <source>None</source>
        <translation>Нет</translation>
    </message>
    <message>
        <source>Waiting</source>
        <translation>Ожидает</translation>
    </message>
    <message>
        <source>Refused</source>
        <translation>Отклонено</translation>
    </message>
    <message>
        <source>Set aside</source>
        <translation>Отложено</translation>
    </message>
    <message>
        <source>Send again</source>
        <translation>Отправить повторно</translation>
    </message>
    <message>
        <source>Release</source>
        <translation>Снять</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Пароль</translation>
    </message>
    <message>
        <source>Wrong password; nothing was done.</source>
        <translation>Неверный пароль; ничего не сделано.</translation>
    </message>
    <message>
        <source>Done.</source>
        <translation>Выполнено.</translation>
    </message>
    <message>
        <source>Lumari does not answer.</source>
        <translation>Lumari не отвечает.</translation>
    </message>
    <message>
        <source>Description</source>
        <translation>Описание</translation>
    </message>
    <message>
        <source>Supervision (s)</source>
        <translation>Контроль (с)</translation>
    </message>
    <message>
        <source>Admit</source>
        <translation>Допустить</translation>
    </message>
</context>
<context>
    <name>VelmoraJournalDamageNotice</name>
    <message>
        <source>[Lumari] The event journal %1 is damaged: %2 record(s) could not be read, at offset(s) %3. Alarms may have been lost. %4</source>
        <translation>[Lumari] Журнал событий %1 повреждён: не удалось прочитать записей: %2, смещения: %3. Тревоги могли быть потеряны. %4</translation>
    </message>
    <message>
        <source>The journal as found is kept as %1.</source>
        <translation>Журнал в найденном виде сохранён как %1.</translation>
    </message>
    <message>
        <source>A copy of the journal as found could not be made: %1.</source>
        <translation>Не удалось сохранить копию журнала в найденном виде: %1.</translation>
    </message>
    <message>
        <source>Event journal damaged: %1 record(s) lost, alarms may have been lost</source>
        <translation>Журнал событий повреждён: потеряно записей: %1, тревоги могли быть потеряны</translation>
    </message>
    <message>
        <source>Acknowledge</source>
        <translation>Принять к сведению</translation>
    </message>
</context>
<context>
    <name>VelmoraLogHousekeeper</name>
    <message>
        <source>[%1] Day logs older than %2 days deleted: %3.</source>
        <translation>[%1] Удалены дневные логи старше %2 дн.: %3.</translation>
    </message>
    <message>
        <source>[%1] Can not delete the day log %2.</source>
        <translation>[%1] Не удалось удалить дневной лог %2.</translation>
    </message>
    <message>
        <source>[%1] Day log %2 compressed to %3 (%4 bytes to %5).</source>
        <translation>[%1] Дневной лог %2 сжат в %3 (%4 байт в %5).</translation>
    </message>
    <message>
        <source>[%1] Day log %2 deleted: %3 holds it already, compressed.</source>
        <translation>[%1] Дневной лог %2 удалён: он уже есть в сжатом виде в %3.</translation>
    </message>
    <message>
        <source>[%1] Can not compress the day log %2: %3.</source>
        <translation>[%1] Не удалось сжать дневной лог %2: %3.</translation>
    </message>
    <message>
        <source>[%1] Low disk space for the day logs in %2: %3 MiB free, %4 MiB kept free for the event journal; deleted: %5.</source>
        <translation>[%1] Мало места на диске для дневных логов в %2: свободно %3 МиБ, для журнала событий оставляется %4 МиБ; удалены: %5.</translation>
    </message>
    <message>
        <source>[%1] Low disk space for the day logs in %2: %3 MiB free, %4 MiB kept free for the event journal, and no older day log is left to delete. The day log stops writing until space returns.</source>
        <translation>[%1] Мало места на диске для дневных логов в %2: свободно %3 МиБ, для журнала событий оставляется %4 МиБ, и удалять больше нечего. Дневной лог не пишется, пока место не освободится.</translation>
    </message>
    <message>
        <source>[%1] Disk space for the day logs in %2 sufficient again: %3 MiB free. The day log writes again.</source>
        <translation>[%1] Места на диске для дневных логов в %2 снова достаточно: свободно %3 МиБ. Дневной лог снова пишется.</translation>
    </message>
</context>
</TS>
