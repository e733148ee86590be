#include "probe/windowform.h"
#include "ui/lumivox.h"

#include <QTextBlock>
#include <QtTest>

// The log view keeps the newest lines only, so weeks of polling with "Debug" ticked
// cannot slow the program down.
class TestLogCap : public QObject
{
    Q_OBJECT

private slots:
    void keepsTheNewestLines_data();
    void keepsTheNewestLines();
};

namespace {
constexpr int kCap = 10000;
// What the user still sees once the oldest lines have gone: about the cap.
constexpr int kAtLeastKept = kCap * 9 / 10;
} // namespace

void TestLogCap::keepsTheNewestLines_data()
{
    QTest::addColumn<int>("lines");
    QTest::newRow("just past the cap") << kCap + 1;
    QTest::newRow("half a cap past it") << kCap + kCap / 2;
    QTest::newRow("three caps") << 3 * kCap;
}

void TestLogCap::keepsTheNewestLines()
{
    QFETCH(int, lines);
    Lumivox window;
    QTextDocument *log = testsupport::WindowForm(window).textEdit->document();
    int longest = 0;
    for (int i = 0; i < lines; ++i) {
        window.handleReply(QStringLiteral("line %1").arg(i));
        longest = std::max(longest, log->blockCount());
    }

    QVERIFY2(longest <= kCap, qPrintable(QString::number(longest)));
    QVERIFY2(log->blockCount() >= kAtLeastKept, qPrintable(QString::number(log->blockCount())));
    // The last block is the empty one after the final "\r"; before it the newest lines in
    // order, the oldest dropped first.
    QCOMPARE(log->lastBlock().previous().text(), QStringLiteral("line %1").arg(lines - 1));
    const int kept = log->blockCount() - 1;
    QCOMPARE(log->firstBlock().text(), QStringLiteral("line %1").arg(lines - kept));
    QVERIFY(!log->toPlainText().contains(QStringLiteral("Failed to initialize Com port 1!")));
    // Nothing held back for undo: the history would grow with every line.
    QVERIFY(!log->isUndoAvailable());
}

QTEST_MAIN(TestLogCap)
#include "tst_logcap.moc"
