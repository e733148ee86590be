// The handler only writes a byte into a socket pair; the GUI thread reads it through
// a socket notifier and does the rest, where Qt may be called.

#include "platform/terminationsignals.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr std::array<int, 3> kSignals = {SIGTERM, SIGINT, SIGHUP};
constexpr int kDrainSize = 64; // bytes read at once from the socket pair

// The end the handler writes to; -1 while no object watches.
volatile sig_atomic_t handlerEnd = -1;

extern "C" void onTerminationSignal(int number)
{
    const int savedErrno = errno;
    const int end = handlerEnd;
    const char byte = char(number);
    // Non-blocking: with a full buffer the request is already pending.
    if (end >= 0 && ::write(end, &byte, 1) < 0) { }
    errno = savedErrno;
}
} // namespace

struct TerminationSignals::Private
{
    int ends[2] = {-1, -1}; // written by the handler, read on the GUI thread
    std::unique_ptr<QSocketNotifier> notifier;
    std::array<struct sigaction, kSignals.size()> previous {};
    std::array<bool, kSignals.size()> installed {};
    bool hangupReloads = false;
};

TerminationSignals::TerminationSignals(QObject *parent)
    : QObject(parent)
    , d(std::make_unique<Private>())
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, d->ends) != 0) {
        qWarning("Termination signals not handled: %s", std::strerror(errno));
        return;
    }
    for (const int end : d->ends) {
        ::fcntl(end, F_SETFD, FD_CLOEXEC);
        ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
    }
    d->notifier = std::make_unique<QSocketNotifier>(d->ends[1], QSocketNotifier::Read);
    connect(d->notifier.get(), &QSocketNotifier::activated, this, [this] {
        char bytes[kDrainSize];
        bool reload = false;
        bool end = false;
        ssize_t count = 0;
        while ((count = ::read(d->ends[1], bytes, sizeof bytes)) > 0) {
            for (ssize_t i = 0; i < count; ++i) {
                if (d->hangupReloads && bytes[i] == char(SIGHUP))
                    reload = true;
                else
                    end = true;
            }
        }
        // An end asked for with a reload: the end wins, there is nothing left to reload.
        if (end)
            emit received();
        else if (reload)
            emit reloadRequested();
    });
    handlerEnd = d->ends[0];

    struct sigaction action
    {
    };
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        // A signal ignored from the start stays ignored, as nohup asks for SIGHUP.
        struct sigaction inherited
        {
        };
        if (::sigaction(kSignals[i], nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN)
            continue;
        d->installed[i] = ::sigaction(kSignals[i], &action, &d->previous[i]) == 0;
    }
}

TerminationSignals::~TerminationSignals()
{
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        if (d->installed[i])
            ::sigaction(kSignals[i], &d->previous[i], nullptr);
    }
    handlerEnd = -1;
    d->notifier.reset();
    for (const int end : d->ends) {
        if (end >= 0)
            ::close(end);
    }
}

void TerminationSignals::setHangupReloads(bool on)
{
    d->hangupReloads = on;
}
