#include "svelmoradevicelistrow.h"
#include "velmoradeviceadmission.h"

#include <QTest>

using Verdict = VelmoraDeviceAdmission::Verdict;
Q_DECLARE_METATYPE(Verdict)

class TestVelmoraDeviceAdmission : public QObject
{
    Q_OBJECT

private slots:
    void decide_data();
    void decide();
};

namespace {
const QString kMacA = QStringLiteral("0102030405060708");
const QString kMacB = QStringLiteral("1112131415161718");
const QString kNoRow = QStringLiteral("no row");
} // namespace

void TestVelmoraDeviceAdmission::decide_data()
{
    QTest::addColumn<bool>("onlyListed");
    // kNoRow: the device has no row; otherwise the row's mac field.
    QTest::addColumn<QString>("rowMac");
    QTest::addColumn<QString>("learnedMac");
    QTest::addColumn<QString>("presentedMac");
    QTest::addColumn<Verdict>("verdict");
    QTest::addColumn<QString>("expectedMac");

    QTest::newRow("all: a new device learns its MAC") << false << kNoRow << QString() << kMacA
                                                      << Verdict::AdmittedMacLearned << QString();
    QTest::newRow("all: the same MAC") << false << kNoRow << kMacA << kMacA << Verdict::Admitted << QString();
    QTest::newRow("all: a changed MAC is learned anew")
        << false << kNoRow << kMacA << kMacB << Verdict::AdmittedMacChanged << kMacA;
    QTest::newRow("all: a frame before the MAC reply") << false << kNoRow << kMacA << QString() << Verdict::Admitted
                                                       << QString();
    QTest::newRow("all: the row's MAC is pinned") << false << kMacA << kMacA << kMacB << Verdict::RefusedMacDiffers
                                                  << kMacA;
    QTest::newRow("all: pinned MAC not presented yet")
        << false << kMacA << QString() << QString() << Verdict::RefusedMacDiffers << kMacA;
    QTest::newRow("all: pinned MAC presented") << false << kMacA << QString() << kMacA << Verdict::AdmittedMacLearned
                                               << QString();
    QTest::newRow("listed: not listed") << true << kNoRow << kMacA << kMacA << Verdict::RefusedNotListed << QString();
    QTest::newRow("listed: first contact learns") << true << QString() << QString() << kMacA
                                                  << Verdict::AdmittedMacLearned << QString();
    QTest::newRow("listed: the learned MAC is pinned")
        << true << QString() << kMacA << kMacB << Verdict::RefusedMacDiffers << kMacA;
    QTest::newRow("listed: the row's MAC wins over the learned one")
        << true << kMacB << kMacA << kMacB << Verdict::AdmittedMacLearned << QString();
}

void TestVelmoraDeviceAdmission::decide()
{
    QFETCH(bool, onlyListed);
    QFETCH(QString, rowMac);
    QFETCH(QString, learnedMac);
    QFETCH(QString, presentedMac);
    QFETCH(Verdict, verdict);
    QFETCH(QString, expectedMac);

    SVelmoraDeviceListRow row;
    row.deviceId = QStringLiteral("0A0B0C");
    row.mac = rowMac;
    const VelmoraDeviceAdmission::Decision decision =
        VelmoraDeviceAdmission::decide(onlyListed, rowMac == kNoRow ? nullptr : &row, learnedMac, presentedMac);
    QCOMPARE(decision.verdict, verdict);
    QCOMPARE(decision.expectedMac, expectedMac);
    QCOMPARE(decision.refused(), verdict == Verdict::RefusedMacDiffers || verdict == Verdict::RefusedNotListed);
}

QTEST_APPLESS_MAIN(TestVelmoraDeviceAdmission)

#include "tst_velmoradeviceadmission.moc"
