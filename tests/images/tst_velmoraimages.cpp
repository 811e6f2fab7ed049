#include "velmoraimages.h"

#include <QIcon>
#include <QPixmap>
#include <QtTest>

class TestVelmoraImages : public QObject
{
    Q_OBJECT

private slots:
    void everyImageIsInTheBundle_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("size");
        const QString folder = QStringLiteral(":/icons/_resources/icons/");
        QTest::newRow("window icon") << int(kImageLogo) << folder + "velmora-dravix-logo.png" << QSize(14, 16);
        QTest::newRow("exit action") << int(kImageExitAction) << folder + "velmora-exit-action.png" << QSize(32, 32);
        QTest::newRow("settings action") << int(kImageConfAction) << folder + "velmora-conf-action.png"
                                         << QSize(32, 32);
        QTest::newRow("TCP port") << int(kImagePort) << folder + "velmora-port.png" << QSize(16, 16);
        QTest::newRow("COM port") << int(kImageComPort) << folder + "velmora-com-port.png" << QSize(16, 16);
        QTest::newRow("server") << int(kImageServer) << folder + "velmora-server.png" << QSize(16, 16);
        QTest::newRow("line") << int(kImageLine) << folder + "velmora-line.png" << QSize(16, 16);
        QTest::newRow("clock") << int(kImageClock) << folder + "velmora-clock.png" << QSize(16, 16);
        QTest::newRow("apply") << int(kImageOk) << folder + "velmora-ok.png" << QSize(16, 16);
        QTest::newRow("cancel") << int(kImageError) << folder + "velmora-error.png" << QSize(16, 16);
        QTest::newRow("toolbar logo") << int(kImageBigLogo) << folder + "velmora-biglogo.png" << QSize(221, 48);
    }
    void everyImageIsInTheBundle()
    {
        QFETCH(int, id);
        QFETCH(QString, path);
        QFETCH(QSize, size);
        QCOMPARE(iconPath(id), path);
        const QPixmap pixmap = pixmapFromId(id);
        QVERIFY2(!pixmap.isNull(), qPrintable(path));
        QCOMPARE(pixmap.size(), size);
        QVERIFY(pixmap.hasAlphaChannel());
        QVERIFY(!iconFromId(id).isNull());
    }

    void otherNumbersHaveNoImage_data()
    {
        QTest::addColumn<int>("id");
        QTest::newRow("zero") << 0;
        QTest::newRow("minus one") << -1;
        QTest::newRow("just below the first") << 10000009;
        QTest::newRow("between two ids") << 10000015;
        QTest::newRow("just after the last") << 10000120;
    }
    void otherNumbersHaveNoImage()
    {
        QFETCH(int, id);
        QCOMPARE(iconPath(id), QString());
        QVERIFY(pixmapFromId(id).isNull());
        QVERIFY(iconFromId(id).isNull());
    }
};

QTEST_MAIN(TestVelmoraImages)
#include "tst_velmoraimages.moc"
