#include <Form1.h>
#include <GameApplication.h>

#include <QCoreApplication>
#include <QTest>

// The game as a whole program: its version, and its exit status when it ends.
class ProgramTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void theProgramIsVersionOneAndEndsWithItsStatus() {
        char name[] = "warukyara";
        char* argv[] = {name, nullptr};
        int argc = 1;
        QString version;
        const int status = runGame(argc, argv, [&version](Form1& game) {
            version = QCoreApplication::applicationVersion();
            game.form().dispatcher().endProgram(3);
        });
        QCOMPARE(version, QStringLiteral("1.00"));
        QCOMPARE(status, 3);
    }
};

QTEST_APPLESS_MAIN(ProgramTest)
#include "ProgramTest.moc"
