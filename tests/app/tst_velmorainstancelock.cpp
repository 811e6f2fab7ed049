#include "velmorainstancelock.h"

#include <QtTest>

#include <QFile>
#include <QTemporaryDir>

#include <memory>

class TestVelmoraInstanceLock : public QObject
{
    Q_OBJECT

private slots:
    void oneHolderAtATime();
    void unusablePlacesFailWithTheirReason_data();
    void unusablePlacesFailWithTheirReason();

private:
    QTemporaryDir dir;
};

// Two lock objects in one process stand for two copies of the program: the
// lock belongs to the open file, not to the process.
void TestVelmoraInstanceLock::oneHolderAtATime()
{
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("Lumari.lock"));
    auto first = std::make_unique<VelmoraInstanceLock>(path);
    QCOMPARE(first->tryLock(), VelmoraInstanceLock::Locked);
    QCOMPARE(first->tryLock(), VelmoraInstanceLock::Locked);

    VelmoraInstanceLock second(path);
    QCOMPARE(second.tryLock(), VelmoraInstanceLock::HeldElsewhere);
    QVERIFY(!second.isLocked());
    QCOMPARE(second.tryLock(), VelmoraInstanceLock::HeldElsewhere);

    // The file stays; a lock left by a copy that ended is no lock.
    first.reset();
    QVERIFY(QFile::exists(path));
    QCOMPARE(second.tryLock(), VelmoraInstanceLock::Locked);
}

void TestVelmoraInstanceLock::unusablePlacesFailWithTheirReason_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("linkTarget");
    QTest::newRow("directory missing") << "missing/Lumari.lock" << QString();
    // A link in its place is not followed: the lock must not create or
    // truncate a file somewhere else.
    QTest::newRow("symbolic link") << "linked.lock" << "target.lock";
}

void TestVelmoraInstanceLock::unusablePlacesFailWithTheirReason()
{
    QFETCH(QString, name);
    QFETCH(QString, linkTarget);
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(name);
    if (!linkTarget.isEmpty()) {
        QVERIFY(QFile::link(dir.filePath(linkTarget), path));
        // Windows makes a shortcut, an ordinary file to everyone but Explorer.
        if (!QFileInfo(path).isSymbolicLink())
            QSKIP("This system links files by shortcut, not symbolically");
    }

    VelmoraInstanceLock lock(path);
    QCOMPARE(lock.tryLock(), VelmoraInstanceLock::Failed);
    QVERIFY(!lock.isLocked());
    QVERIFY2(lock.errorString().startsWith(QStringLiteral("Cannot open ") + path + QStringLiteral(": ")),
             qPrintable(lock.errorString()));
    if (!linkTarget.isEmpty())
        QVERIFY(!QFile::exists(dir.filePath(linkTarget)));
}

QTEST_GUILESS_MAIN(TestVelmoraInstanceLock)
#include "tst_velmorainstancelock.moc"
