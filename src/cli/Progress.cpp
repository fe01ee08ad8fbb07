#include "cli/Progress.h"

#include <algorithm>
#include <cmath>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr double SectorsPerSecond = 75.0;
// Redrawing more often than this only costs the terminal's time.
constexpr qint64 RedrawMs = 100;
constexpr int MinBarWidth = 10;
constexpr int MaxBarWidth = 40;

// `text` in at most `width` characters, the middle left out.
QString Elide(const QString& text, int width)
{
    if (text.size() <= width)
        return text;
    if (width <= 3)
        return text.left(std::max(width, 0));
    const int head = (width - 3) / 2;
    return text.left(head) + u"..."_s + text.right(width - 3 - head);
}

} // namespace

TProgress::TProgress(std::FILE* out, bool terminal, bool quiet)
    : FOut(out), FTerminal(terminal), FQuiet(quiet)
{
}

QString TProgress::Clock(double seconds)
{
    const qint64 s = std::isfinite(seconds) && seconds > 0 ? qint64(seconds) : 0;
    return u"%1:%2"_s.arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

void TProgress::Begin(int k, int total, const QString& title, const QString& fileName, int sectors)
{
    FTrack = k;
    FTotal = total;
    FTitle = title;
    FFileName = fileName;
    FSectors = std::max(sectors, 1);
    FPercent = 0;
    FLastDraw = -1;
    FDrawn = false;
    FClock.start();
    Draw(true);
}

void TProgress::Update(int percent)
{
    FPercent = std::clamp(percent, 0, 100);
    Draw(false);
}

void TProgress::End(const QString& status, const QString& fileName)
{
    if (FQuiet)
        return;
    const double seconds = FClock.isValid() ? FClock.elapsed() / 1000.0 : 0;
    const double audio = FSectors / SectorsPerSecond;
    QString line = u"[%1/%2] %3 %4"_s.arg(FTrack).arg(FTotal).arg(status, FTitle);
    if (!fileName.isEmpty())
        line += u" -> "_s + fileName;
    if (status == u"OK"_s && seconds > 0.05)
        line += u" (%1 in %2, %3x)"_s
                    .arg(Clock(audio),
                         seconds < 60 ? u"%1 s"_s.arg(seconds, 0, 'f', 1) : Clock(seconds))
                    .arg(audio / seconds, 0, 'f', 1);
    if (FTerminal && FDrawn)
        std::fputs("\r\x1b[K", FOut);
    std::fputs(line.toLocal8Bit().constData(), FOut);
    std::fputc('\n', FOut);
    std::fflush(FOut);
    FDrawn = false;
}

int TProgress::Columns() const
{
    winsize size{};
    if (::ioctl(::fileno(FOut), TIOCGWINSZ, &size) == 0 && size.ws_col >= 40)
        return size.ws_col;
    return 80;
}

void TProgress::Draw(bool force)
{
    if (FQuiet || !FTerminal)
        return;
    const qint64 now = FClock.elapsed();
    if (!force && FLastDraw >= 0 && now - FLastDraw < RedrawMs && FPercent < 100)
        return;
    FLastDraw = now;

    const double seconds = now / 1000.0;
    const double doneSectors = FSectors * FPercent / 100.0;
    QString speed = u"  --x"_s, left = u"--:--"_s;
    if (seconds > 0.1 && doneSectors > 0) {
        const double rate = doneSectors / SectorsPerSecond / seconds;
        speed = u"%1x"_s.arg(rate, 5, 'f', 1);
        left = Clock((FSectors - doneSectors) / SectorsPerSecond / rate);
    }
    const QString head = u"[%1/%2] "_s.arg(FTrack).arg(FTotal);
    const QString tail = u" %1% %2 %3 left"_s.arg(FPercent, 3).arg(speed, left);
    const int columns = Columns() - 1;
    const int barWidth =
        std::clamp((columns - int(head.size() + tail.size())) / 2, MinBarWidth, MaxBarWidth);
    const int filled = barWidth * FPercent / 100;
    const QString bar = u"["_s + QString(filled, u'#') + QString(barWidth - filled, u'-') + u"]"_s;
    const int titleWidth = columns - int(head.size() + bar.size() + tail.size()) - 1;
    const QString title = Elide(FTitle, std::max(titleWidth, 0)).leftJustified(titleWidth);
    const QString line = head + title + u" "_s + bar + tail;
    std::fputs("\r\x1b[K", FOut);
    std::fputs(line.toLocal8Bit().constData(), FOut);
    std::fflush(FOut);
    FDrawn = true;
}
