#include "benchwait.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTcpServer>
#include <QTimer>

#include <algorithm>

#include <unistd.h>

namespace bench {

namespace {
constexpr int kLookMs = 5; // between two looks at the condition
constexpr double kNanosPerSecond = 1e9;

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// From /proc/PID/stat: utime and stime, in clock ticks.
double tickSeconds(qint64 pid)
{
    const QByteArray text = contentOf(QStringLiteral("/proc/%1/stat").arg(pid));
    // The fields after the command name in parentheses; utime and stime are 14 and 15.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    constexpr int kUtime = 11;
    constexpr int kStime = 12;
    if (fields.size() <= kStime)
        return 0;
    return double(fields.at(kUtime).toLongLong() + fields.at(kStime).toLongLong())
        / double(sysconf(_SC_CLK_TCK));
}
} // namespace

bool runUntil(const std::function<bool()> &done, int msecs)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer look;
    look.setInterval(kLookMs);
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(msecs, &loop, &QEventLoop::quit);
    look.start();
    loop.exec();
    return done();
}

double cpuSeconds(qint64 pid)
{
    // Each thread's schedstat starts with its time on a processor in nanoseconds.
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    const QStringList threads = QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    qint64 nanos = 0;
    bool counted = false;
    for (const QString &thread : threads) {
        const QByteArray stat
            = contentOf(tasks + QLatin1Char('/') + thread + QStringLiteral("/schedstat"));
        bool number = false;
        const qint64 onCpu = stat.split(' ').value(0).toLongLong(&number);
        if (number) {
            nanos += onCpu;
            counted = true;
        }
    }
    return counted ? double(nanos) / kNanosPerSecond : tickSeconds(pid);
}

void pause(int ms)
{
    runUntil([] { return false; }, ms);
}

qint64 privateKiB(qint64 pid)
{
    QFile smaps(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!smaps.open(QIODevice::ReadOnly))
        return 0;
    qint64 total = 0;
    for (const QByteArray &line : smaps.readAll().split('\n'))
        if (line.startsWith("Private_Clean:") || line.startsWith("Private_Dirty:"))
            total += line.simplified().split(' ').value(1).toLongLong();
    return total;
}

quint16 freePort()
{
    QTcpServer server;
    return server.listen(QHostAddress::LocalHost) ? server.serverPort() : 0;
}

double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

} // namespace bench
