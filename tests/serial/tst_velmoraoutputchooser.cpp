#include "velmoraoutputchooser.h"

#include <QtTest>

// The choice of output on its own. Each row is a script of what the outputs
// did and what the chooser answered:
//   P+ F+   the primary / fallback acknowledged a line
//   P- F-   it left a line unanswered           P! F!  its port closed
// Answers: "-" no switch, "F:why" to the fallback, "P:why" back to the primary,
// why being "silent", "closed", "fallback answers" or "primary answers".
class TestVelmoraOutputChooser : public QObject
{
    Q_OBJECT

private slots:
    void choice_data();
    void choice();
};

namespace {

QString switchText(VelmoraOutputChooser::Switch why)
{
    using Switch = VelmoraOutputChooser::Switch;
    switch (why) {
    case Switch::PrimaryNotAnswering:
        return QStringLiteral("F:silent");
    case Switch::PrimaryClosed:
        return QStringLiteral("F:closed");
    case Switch::FallbackAnswers:
        return QStringLiteral("F:fallback answers");
    case Switch::PrimaryAnswers:
        return QStringLiteral("P:primary answers");
    case Switch::None:
        break;
    }
    return QStringLiteral("-");
}

} // namespace

void TestVelmoraOutputChooser::choice_data()
{
    QTest::addColumn<bool>("withFallback");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("answers");
    QTest::addColumn<QString>("inUse");

    QTest::newRow("without a fallback the primary stays, whatever happens")
        << false << "P! F+ P- F+" << "- - - -" << "P";
    QTest::newRow("both answering: the primary") << true << "F+ P+ F+" << "- - -" << "P";
    QTest::newRow("primary silent, fallback answering: switch")
        << true << "F+ P+ P-" << "- - F:silent" << "F";
    QTest::newRow("primary gone: switch with its reason") << true << "F+ P!" << "- F:closed" << "F";
    QTest::newRow("primary absent first: switch once the fallback answers")
        << true << "P! F- F+" << "- - F:fallback answers" << "F";
    QTest::newRow("back to the primary when it answers, and away again")
        << true << "F+ P! P+ P- " << "- F:closed P:primary answers F:silent" << "F";
    QTest::newRow("both absent: the events wait on the fallback until one answers")
        << true << "F+ P- F- F! P+" << "- F:silent - - P:primary answers" << "P";
    QTest::newRow("a fallback that never answered is not switched to")
        << true << "P- P! F-" << "- - -" << "P";
}

void TestVelmoraOutputChooser::choice()
{
    QFETCH(bool, withFallback);
    QFETCH(QString, script);
    QFETCH(QString, answers);
    QFETCH(QString, inUse);

    VelmoraOutputChooser chooser;
    chooser.reset(withFallback);
    QStringList got;
    for (const QString &step : script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const auto output = step.at(0) == QLatin1Char('P') ? VelmoraOutputChooser::Primary : VelmoraOutputChooser::Fallback;
        const QChar what = step.at(1);
        got << switchText(what == QLatin1Char('+') ? chooser.answered(output)
                                                   : chooser.absent(output, what == QLatin1Char('!')));
    }
    QCOMPARE(got.join(QLatin1Char(' ')), answers);
    QCOMPARE(chooser.inUse() == VelmoraOutputChooser::Primary ? QStringLiteral("P") : QStringLiteral("F"), inUse);
}

QTEST_GUILESS_MAIN(TestVelmoraOutputChooser)
#include "tst_velmoraoutputchooser.moc"
