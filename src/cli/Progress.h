#pragma once

#include <QElapsedTimer>
#include <QString>

#include <cstdio>

// What a command-line rip shows while it works. On a terminal: one bar per track, redrawn in
// place, with the percentage, the speed in times real time and the time left, replaced by the
// track's result when it ends. Elsewhere (a pipe, a log file): one plain line per finished
// track. Quiet: nothing. Errors and warnings never come here; they go to standard error.
class TProgress
{
public:
    TProgress(std::FILE* out, bool terminal, bool quiet);

    // Track `k` of `total` starts: `title` to `fileName`, `sectors` long.
    void Begin(int k, int total, const QString& title, const QString& fileName, int sectors);
    // The library's percentage of the running track.
    void Update(int percent);
    // The running track ended with `status` ("OK", "Cancelled", "Failed", "Skipped").
    void End(const QString& status, const QString& fileName);

    // "1:05"; "0:00" for anything below a second.
    static QString Clock(double seconds);

private:
    void Draw(bool force);
    int Columns() const;

    std::FILE* FOut;
    bool FTerminal;
    bool FQuiet;
    int FTrack = 0, FTotal = 0, FSectors = 0, FPercent = 0;
    QString FTitle, FFileName;
    QElapsedTimer FClock;
    qint64 FLastDraw = -1;
    bool FDrawn = false;
};
