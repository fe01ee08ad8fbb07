#include "ui/ElidedText.h"

#include <QFont>
#include <QStringList>
#include <QTextLayout>
#include <QTextOption>

namespace {

const QString Ellipsis = QStringLiteral("\u2026");

QStringList BreakIntoLines(const QString& text, const QFont& font, int width)
{
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        QString part = text.mid(line.textStart(), line.textLength());
        // The blank a line was broken at belongs to neither line.
        while (part.endsWith(QLatin1Char(' ')))
            part.chop(1);
        lines << part;
    }
    layout.endLayout();
    return lines;
}

// The first `kept` characters of `text` shared between its beginning and its end around "…",
// never splitting a character that takes two code units.
QString KeepEnds(const QString& text, qsizetype kept)
{
    qsizetype head = kept - kept / 2;
    qsizetype tail = kept / 2;
    if (head > 0 && text.at(head - 1).isHighSurrogate())
        --head;
    if (tail > 0 && text.at(text.size() - tail).isLowSurrogate())
        --tail;
    return text.left(head) + Ellipsis + text.right(tail);
}

} // namespace

QString ElideMiddleLines(const QString& text, const QFont& font, int width, int lines)
{
    lines = qMax(1, lines);
    QStringList broken = BreakIntoLines(text, font, width);
    if (broken.size() > lines) {
        // The most characters that still fit: the fewer kept, the fewer lines.
        qsizetype low = 0, high = text.size() - 1;
        QStringList best = BreakIntoLines(Ellipsis, font, width);
        while (low <= high) {
            const qsizetype middle = (low + high) / 2;
            const QStringList tried = BreakIntoLines(KeepEnds(text, middle), font, width);
            if (tried.size() <= lines) {
                best = tried;
                low = middle + 1;
            } else {
                high = middle - 1;
            }
        }
        broken = best;
    }
    return broken.join(QLatin1Char('\n'));
}
