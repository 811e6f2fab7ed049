#include "apptestsupport.h"

#include <QAbstractButton>
#include <QDate>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>


void clickBoxButton(QMessageBox *box, const QString &text)
{
    for (QAbstractButton *button : box->buttons()) {
        if (button->text() == text) {
            button->click();
            return;
        }
    }
}

quint16 unusedTcpPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::Any, 0);
    return probe.serverPort();
}

QString readTextFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QString dayLogPath(const QString &appDirectory)
{
    return appDirectory + QStringLiteral("/log/") + QDate::currentDate().toString(QStringLiteral("yyyyMMdd"))
        + QStringLiteral("_Lumari.log");
}
