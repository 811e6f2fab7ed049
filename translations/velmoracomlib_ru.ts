<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU">
<context>
    <name>VelmoraCom</name>
    <message>
        <source>the primary output does not acknowledge</source>
        <translation>основной выход не подтверждает</translation>
    </message>
    <message>
        <source>the primary output is closed</source>
        <translation>основной выход закрыт</translation>
    </message>
    <message>
        <source>the fallback answers and the primary is absent</source>
        <translation>резервный отвечает, а основной нет</translation>
    </message>
    <message>
        <source>the primary output answers its keepalive again</source>
        <translation>основной выход снова отвечает на keepalive</translation>
    </message>
    <message>
        <source> Events now go to the fallback output </source>
        <translation> События теперь идут на резервный выход </translation>
    </message>
    <message>
        <source> Events now go to the primary output </source>
        <translation> События теперь идут на основной выход </translation>
    </message>
    <message>
        <source> Couldn't open </source>
        <translation> Не удалось открыть </translation>
    </message>
    <message>
        <source> opened successfully!</source>
        <translation> успешно открыт!</translation>
    </message>
    <message>
        <source> Couldn't receive settings for </source>
        <translation> Не удалось получить настройки </translation>
    </message>
    <message>
        <source> Setting for </source>
        <translation> Настройки </translation>
    </message>
    <message>
        <source> received successfully!</source>
        <translation> успешно получены!</translation>
    </message>
    <message>
        <source> Couldn't set user's settings for </source>
        <translation> Не удалось применить настройки пользователя для </translation>
    </message>
    <message>
        <source> User's settings for </source>
        <translation> Настройки пользователя для </translation>
    </message>
    <message>
        <source> was set successfully!</source>
        <translation> успешно применены!</translation>
    </message>
    <message>
        <source> Couldn't set timeout's settings for </source>
        <translation> Не удалось установить тайм-ауты для </translation>
    </message>
    <message>
        <source> Timeout's settings for </source>
        <translation> Тайм-ауты для </translation>
    </message>
    <message>
        <source> is ready to work!</source>
        <translation> готов к работе!</translation>
    </message>
    <message>
        <source> was closed successfully!</source>
        <translation> успешно закрыт!</translation>
    </message>
    <message>
        <source> Couldn't write to </source>
        <translation> Не удалось записать в </translation>
    </message>
    <message>
        <source>Writing </source>
        <translation>Запись </translation>
    </message>
    <message>
        <source> to </source>
        <translation> в </translation>
    </message>
    <message>
        <source> was failed! Packet:
</source>
        <translation> не удалась! Пакет:
</translation>
    </message>
    <message>
        <source> COMMSG: Keepalive </source>
        <translation> COMMSG: Keepalive подтверждён </translation>
    </message>
    <message>
        <source> ERROR COMMSG: Keepalive </source>
        <translation> ОШИБКА COMMSG: Keepalive </translation>
    </message>
    <message>
        <source> The monitoring software does not acknowledge; events held: %1</source>
        <translation> Программа мониторинга не подтверждает; задержано событий: %1</translation>
    </message>
    <message>
        <source> The monitoring software acknowledges again; held events to send: %1</source>
        <translation> Программа мониторинга снова отвечает; задержанных событий к отправке: %1</translation>
    </message>
    <message>
        <source> Refused by the monitoring software, set aside: </source>
        <translation> Отклонено программой мониторинга, отложено: </translation>
    </message>
    <message>
        <source> Lost the port </source>
        <translation> Потерян порт </translation>
    </message>
    <message>
        <source>; held events wait until it opens again.</source>
        <translation>; события ждут, пока он снова не откроется.</translation>
    </message>
    <message>
        <source>not opened yet</source>
        <translation>ещё не открыт</translation>
    </message>
    <message>
        <source>closed for new settings</source>
        <translation>закрыт для новых настроек</translation>
    </message>
    <message>
        <source> Refused by the monitoring software; kept until the next event shows whether the line is at fault: </source>
        <translation> Отклонено программой мониторинга; сохранено, пока следующее событие не покажет, неисправна ли линия: </translation>
    </message>
    <message>
        <source> Line fault: the monitoring software refuses every event line; all events are held in order and the first is tried again. Refused: </source>
        <translation> Неисправность линии: программа мониторинга отклоняет все строки событий; все события удерживаются по порядку, первое отправляется повторно. Отклонено: </translation>
    </message>
    <message>
        <source> Sent again by the operator: </source>
        <translation> Отправлено повторно оператором: </translation>
    </message>
    <message>
        <source> Released by the operator, not sent: </source>
        <translation> Снято оператором, не отправлено: </translation>
    </message>
    <message>
        <source> Line fault over: the monitoring software accepts event lines again; held events to send: %1</source>
        <translation> Неисправность линии устранена: программа мониторинга снова принимает строки событий; удерживаемых событий к отправке: %1</translation>
    </message>
    <message>
        <source> Baud rate, data bits, parity and stop bits do not apply to </source>
        <translation> Скорость, биты данных, чётность и стоповые биты не применяются к </translation>
    </message>
    <message>
        <source> and are ignored.</source>
        <translation> и не учитываются.</translation>
    </message>
</context>
</TS>
