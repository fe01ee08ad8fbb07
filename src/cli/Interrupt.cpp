#include "cli/Interrupt.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int gPipe[2] = {-1, -1};
volatile std::sig_atomic_t gSignal = 0;
constexpr int Signals[] = {SIGINT, SIGTERM, SIGHUP};

void OnSignal(int signal)
{
    if (gSignal == 0)
        gSignal = signal;
    const char byte = 1;
    // Nothing to do when the pipe is full: one byte in it is enough.
    [[maybe_unused]] const ssize_t n = ::write(gPipe[1], &byte, 1);
}

} // namespace

TInterrupt::TInterrupt(QObject* parent) : QObject(parent)
{
    if (::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    FNotifier = new QSocketNotifier(gPipe[0], QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, &TInterrupt::Drain);
    struct sigaction action = {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    // The second Ctrl-C is the user insisting: the default action ends the process.
    action.sa_flags = SA_RESETHAND;
    for (const int s : Signals)
        ::sigaction(s, &action, nullptr);
}

TInterrupt::~TInterrupt()
{
    for (const int s : Signals)
        std::signal(s, SIG_DFL);
    delete FNotifier;
    for (int& fd : gPipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

int TInterrupt::Signal()
{
    return gSignal;
}

void TInterrupt::Drain()
{
    char bytes[16];
    while (::read(gPipe[0], bytes, sizeof(bytes)) > 0) {
    }
    if (FReported || gSignal == 0)
        return;
    FReported = true;
    if (OnInterrupt)
        OnInterrupt();
}
