#ifndef APPTESTSUPPORT_H
#define APPTESTSUPPORT_H

#include <QApplication>
#include <QByteArray>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

// Answers modal message boxes from the event loop that runs them: each box
// that appears is recorded and handed to the answer.
class ModalBoxAnswerer
{
public:
    explicit ModalBoxAnswerer(std::function<void(QMessageBox *)> answer)
    {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [this, answer]() {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible() || box == lastBox)
                return;
            lastBox = box;
            titles << box->windowTitle();
            texts << box->text();
            standardButtons << int(box->standardButtons());
            icons << int(box->icon());
            answer(box);
        });
        timer.start();
    }

    QStringList titles;
    QStringList texts;
    QList<int> standardButtons;
    QList<int> icons;

private:
    QTimer timer;
    // Null again once the box is gone, so a later box at the same address
    // still counts as new.
    QPointer<QMessageBox> lastBox;
};

// Clicks the button of the box whose text is given.
void clickBoxButton(QMessageBox *box, const QString &text);

// A loopback port nobody listens on at the moment of the call.
quint16 unusedTcpPort();

QString readTextFile(const QString &path);
QString dayLogPath(const QString &appDirectory);

#endif // APPTESTSUPPORT_H
