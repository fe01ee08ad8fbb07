#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

// Ctrl-C, SIGTERM and SIGHUP while the command line or the window works: the signal handler
// only writes a byte into a pipe; the event loop (which a rip runs between its chunks) reads it
// and calls OnInterrupt there, where it is safe to do real work. A second signal ends the
// process at once.
class TInterrupt : public QObject
{
    Q_OBJECT
public:
    explicit TInterrupt(QObject* parent = nullptr);
    ~TInterrupt() override;

    // Called once, from the event loop, for the first signal.
    std::function<void()> OnInterrupt;

    // The first signal that arrived (SIGINT, SIGTERM, SIGHUP), 0 for none. Set by the handler
    // itself, so it is true even before the event loop has run.
    static int Signal();

private:
    void Drain();
    QSocketNotifier* FNotifier = nullptr;
    bool FReported = false;
};
