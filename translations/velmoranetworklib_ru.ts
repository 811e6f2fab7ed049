<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU">
<context>
    <name>VelmoraNetworkServer</name>
    <message>
        <source>[%1] Server start listening %2:%3.</source>
        <translation>[%1] Сервер начал приём подключений на %2:%3.</translation>
    </message>
    <message>
        <source>[%1] Unable to listen %2:%3.</source>
        <translation>[%1] Невозможно принимать подключения на %2:%3.</translation>
    </message>
    <message>
        <source>[%1] Connection accepted from %2:%3 Count: (%4)</source>
        <translation>[%1] Принято подключение от %2:%3 Всего: (%4)</translation>
    </message>
    <message>
        <source>[%1] Can not send mac request to %2:%3.</source>
        <translation>[%1] Не удалось отправить запрос MAC на %2:%3.</translation>
    </message>
    <message>
        <source>[%1] Client disconnected %2:%3 Count: (%4)</source>
        <translation>[%1] Клиент отключился %2:%3 Всего: (%4)</translation>
    </message>
    <message>
        <source>[%1] Closing tcp sockets Count (%2).</source>
        <translation>[%1] Закрытие tcp-сокетов, всего (%2).</translation>
    </message>
    <message>
        <source>[%1] Server stopped successfully.</source>
        <translation>[%1] Сервер успешно остановлен.</translation>
    </message>
    <message>
        <source>[%1] Unknown packet from %2:%3 (%4).</source>
        <translation>[%1] Неизвестный пакет от %2:%3 (%4).</translation>
    </message>
    <message>
        <source>[%1] CRC bad packet from %2:%3 (CrcCalc: %4 | CrcPack: %05).</source>
        <translation>[%1] Неверная контрольная сумма пакета от %2:%3 (CrcCalc: %4 | CrcPack: %05).</translation>
    </message>
    <message>
        <source>[%1] TAIL bad packet from %2:%3.</source>
        <translation>[%1] Неверное окончание пакета от %2:%3.</translation>
    </message>
    <message>
        <source>[%1] %2:%3 MAC: %4 ID: %5.</source>
        <translation>[%1] %2:%3 MAC: %4 ID: %5.</translation>
    </message>
    <message>
        <source>[%1] ACK from %2:%3 MAC: %4 ID: %5.</source>
        <translation>[%1] ACK от %2:%3 MAC: %4 ID: %5.</translation>
    </message>
    <message>
        <source>[%1] NAK from %2:%3 MAC: %4 ID: %5.</source>
        <translation>[%1] NAK от %2:%3 MAC: %4 ID: %5.</translation>
    </message>
    <message>
        <source>[%1] NETMSG: %2%3%4%5%6%7</source>
        <translation>[%1] NETMSG: %2%3%4%5%6%7</translation>
    </message>
    <message>
        <source>[%1] Can not journal %4 event(s) from %2:%3, no ACK sent, the device will repeat them: %5.</source>
        <translation>[%1] Не удалось записать в журнал события (%4) от %2:%3, ACK не отправлен, прибор повторит их: %5.</translation>
    </message>
    <message>
        <source>[%1] Backlog full: %2 events wait for the serial line (limit %3), new events get no ACK until it drains.</source>
        <translation>[%1] Очередь заполнена: %2 событий ждут последовательной линии (предел %3), новые события не получат ACK, пока очередь не уменьшится.</translation>
    </message>
    <message>
        <source>[%1] Backlog no longer full: %2 events wait for the serial line (limit %3), new events are acknowledged again.</source>
        <translation>[%1] Очередь больше не заполнена: %2 событий ждут последовательной линии (предел %3), новые события снова подтверждаются.</translation>
    </message>
    <message>
        <source>[%1] Backlog full for device ID %2: %3 of its events wait for the serial line (limit %4), its new events get no ACK until they drain.</source>
        <translation>[%1] Очередь прибора ID %2 заполнена: %3 его событий ждут последовательной линии (предел %4), его новые события не получат ACK, пока очередь не уменьшится.</translation>
    </message>
    <message>
        <source>[%1] Backlog no longer full for device ID %2: %3 of its events wait for the serial line (limit %4), its new events are acknowledged again.</source>
        <translation>[%1] Очередь прибора ID %2 больше не заполнена: %3 его событий ждут последовательной линии (предел %4), его новые события снова подтверждаются.</translation>
    </message>
    <message>
        <source>[%1] Low disk space for the spool %2: %3 MiB free (at least %4 MiB needed), new events get no ACK until there is room.</source>
        <translation>[%1] Мало места на диске для очереди %2: свободно %3 МиБ (нужно не менее %4 МиБ), новые события не получат ACK, пока место не освободится.</translation>
    </message>
    <message>
        <source>[%1] Disk space for the spool %2 sufficient again: %3 MiB free, new events are acknowledged again.</source>
        <translation>[%1] Места на диске для очереди %2 снова достаточно: свободно %3 МиБ, новые события снова подтверждаются.</translation>
    </message>
    <message>
        <source>[%1] Can not accept connections on %2:%3 (%4), new devices wait Count: (%5)</source>
        <translation>[%1] Невозможно принять подключения на %2:%3 (%4), новые приборы ждут Количество: (%5)</translation>
    </message>
    <message>
        <source>[%1] Accepting connections on %2:%3 again Count: (%4)</source>
        <translation>[%1] Подключения на %2:%3 снова принимаются Количество: (%4)</translation>
    </message>
    <message>
        <source>[%1] Incomplete packet from %2:%3 dropped after %4 s (%5).</source>
        <translation>[%1] Неполный пакет от %2:%3 отброшен через %4 с (%5).</translation>
    </message>
    <message>
        <source>[%1] %2:%3 sent %4 more read(s), %5 bytes, that held no frame; they were not logged one by one.</source>
        <translation>[%1] %2:%3 прислал ещё чтений: %4, байт: %5, без единого пакета; они не записывались по одному.</translation>
    </message>
    <message>
        <source>[%1] Device %2 not heard for %3 s: absence (E350) reported.</source>
        <translation>[%1] Устройство %2 не на связи %3 с: отправлено сообщение о потере связи (E350).</translation>
    </message>
    <message>
        <source>[%1] Can not journal the absence (E350) of device %2, tried again in a second: %3.</source>
        <translation>[%1] Невозможно записать в журнал потерю связи (E350) с устройством %2, повтор через секунду: %3.</translation>
    </message>
    <message>
        <source>[%1] Device %2 heard again: restore (R350) reported.</source>
        <translation>[%1] Устройство %2 снова на связи: отправлено восстановление (R350).</translation>
    </message>
    <message>
        <source>[%1] Device %2 from %3:%4 refused: not listed.</source>
        <translation>[%1] Устройство %2 с %3:%4 отклонено: нет в списке.</translation>
    </message>
    <message>
        <source>[%1] Device %2 from %3:%4 refused: MAC differs: expected %5, got %6.</source>
        <translation>[%1] Устройство %2 с %3:%4 отклонено: другой MAC: ожидался %5, получен %6.</translation>
    </message>
    <message>
        <source>[%1] Device %2 presents a new MAC %4 (was %3); it is kept from now on.</source>
        <translation>[%1] Устройство %2 предъявило новый MAC %4 (был %3); он запомнен.</translation>
    </message>
    <message>
        <source>[%1] Device list %2 read: %3 device(s).</source>
        <translation>[%1] Список устройств %2 прочитан: устройств %3.</translation>
    </message>
    <message>
        <source>[%1] Can not read the device list %2: %3.</source>
        <translation>[%1] Невозможно прочитать список устройств %2: %3.</translation>
    </message>
    <message>
        <source>[%1] Device list %2, line %3 skipped: %4.</source>
        <translation>[%1] Список устройств %2, строка %3 пропущена: %4.</translation>
    </message>
    <message>
        <source>[%1] Can not keep the state of the devices: %2.</source>
        <translation>[%1] Невозможно сохранить состояние устройств: %2.</translation>
    </message>
    <message>
        <source>[%1] Supervision period %2 s is below 30 s: accepted for testing only.</source>
        <translation>[%1] Период контроля связи %2 с меньше 30 с: принят только для проверки.</translation>
    </message>
</context>
<context>
    <name>VelmoraDeviceStateText</name>
    <message>
        <source>connected</source>
        <translation>подключено</translation>
    </message>
    <message>
        <source>heard %1 s ago</source>
        <translation>на связи %1 с назад</translation>
    </message>
    <message>
        <source>not heard since the start</source>
        <translation>не было на связи с запуска</translation>
    </message>
    <message>
        <source>absent since %1</source>
        <translation>нет связи с %1</translation>
    </message>
    <message>
        <source>refused: not listed</source>
        <translation>отклонено: нет в списке</translation>
    </message>
    <message>
        <source>refused: MAC differs</source>
        <translation>отклонено: другой MAC</translation>
    </message>
    <message>
        <source>not supervised</source>
        <translation>без контроля</translation>
    </message>
</context>
</TS>
