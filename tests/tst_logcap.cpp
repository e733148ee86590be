#include "lumivox.h"

#include <QTextBlock>
#include <QtTest>

// The log view keeps the newest lines only, so weeks of polling with "Debug" ticked
// cannot slow the program down.
class TestLogCap : public QObject
{
    Q_OBJECT

private slots:
    void keepsTheNewestLines();
};

void TestLogCap::keepsTheNewestLines()
{
    constexpr int kCap = 10000;
    constexpr int kLines = kCap + 500;
    Lumivox window;
    QTextDocument *log = window.form().textEdit->document();
    for (int i = 0; i < kLines; ++i)
        window.handleReply(QStringLiteral("line %1").arg(i));

    QCOMPARE(log->blockCount(), kCap);
    // The last block is the empty one after the final "\r"; the oldest were dropped.
    QCOMPARE(log->lastBlock().previous().text(), QStringLiteral("line %1").arg(kLines - 1));
    QVERIFY(log->firstBlock().text().startsWith(QStringLiteral("line ")));
    QVERIFY(!log->toPlainText().contains(QStringLiteral("Failed to initialize Com port 1!")));
}

QTEST_MAIN(TestLogCap)
#include "tst_logcap.moc"
