#ifndef APPTESTSUPPORT_H
#define APPTESTSUPPORT_H

#include <QApplication>
#include <QByteArray>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QSocketNotifier>
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
            answer(box);
        });
        timer.start();
    }

    QStringList titles;
    QStringList texts;

private:
    QTimer timer;
    // Null again once the box is gone, so a later box at the same address
    // still counts as new.
    QPointer<QMessageBox> lastBox;
};

// Clicks the button of the box whose text is given.
void clickBoxButton(QMessageBox *box, const QString &text);

// A pseudo-terminal whose slave side the program opens as its COM port. On
// the master side a monitoring station reads every line; it stays silent
// until told to acknowledge each line (ended by 0x14) with 0x06.
class PseudoTerminal
{
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool isOpen() const { return masterFd >= 0; }
    QString slavePath() const { return path; }
    void setAcknowledging(bool acknowledge) { acknowledging = acknowledge; }
    int linesReceived() const { return lineCount; }

private:
    void readMaster();

    int masterFd = -1;
    int slaveFd = -1;
    QString path;
    std::unique_ptr<QSocketNotifier> notifier;
    bool acknowledging = false;
    int lineCount = 0;
};

// A device frame of type 0003 (test event) from the device with the three ID
// bytes given, unencrypted: markers, flag, length, payload, checksum, tail.
QByteArray deviceTestEventFrame(const QByteArray &deviceId);

// A loopback port nobody listens on at the moment of the call.
quint16 unusedTcpPort();

QString readTextFile(const QString &path);
QString dayLogPath(const QString &appDirectory);

#endif // APPTESTSUPPORT_H
