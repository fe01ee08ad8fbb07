#include "controls/GradProgress.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLocale>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// The one-pixel edges of a bevel ring: top and left in one colour, bottom and right in the other.
void DrawEdgeRing(QPainter& painter, const QRect& r, const QColor& topLeft,
                  const QColor& bottomRight)
{
    if (r.width() <= 0 || r.height() <= 0)
        return;
    const int x1 = r.left(), y1 = r.top(), x2 = r.right(), y2 = r.bottom();
    painter.setPen(topLeft);
    painter.drawLine(x1, y1, x2 - 1, y1);
    painter.drawLine(x1, y1, x1, y2 - 1);
    painter.setPen(bottomRight);
    painter.drawLine(x1, y2, x2, y2);
    painter.drawLine(x2, y1, x2, y2);
}

int ClampByte(long long value)
{
    return int(std::clamp<long long>(value, 0, 255));
}

double Luminance(const QColor& colour)
{
    const auto channel = [](double c) {
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
           0.0722 * channel(colour.blueF());
}

// Below this, small text cannot be read against what it stands on.
constexpr double LegibleContrast = 4.5;

} // namespace

namespace {

// The glyphs' coverage grown by one pixel to each side, in `colour`: an even ring of one
// opacity, so the halo never smudges where antialiased edges would pile up.
QImage Halo(const QImage& glyphs, const QColor& colour)
{
    const int w = glyphs.width(), h = glyphs.height();
    QImage halo(glyphs.size(), QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < h; ++y) {
        auto* out = reinterpret_cast<QRgb*>(halo.scanLine(y));
        for (int x = 0; x < w; ++x) {
            // The four neighbours only: the diagonals would close the digits' counters.
            const auto coverage = [&](int cx, int cy) {
                if (cx < 0 || cy < 0 || cx >= w || cy >= h)
                    return 0;
                return qAlpha(reinterpret_cast<const QRgb*>(glyphs.constScanLine(cy))[cx]);
            };
            const int alpha = std::max({coverage(x, y), coverage(x - 1, y), coverage(x + 1, y),
                                        coverage(x, y - 1), coverage(x, y + 1)});
            out[x] = qPremultiply(qRgba(colour.red(), colour.green(), colour.blue(), alpha));
        }
    }
    return halo;
}

} // namespace

double ContrastRatio(const QColor& a, const QColor& b)
{
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

long long RoundHalfEven(double value)
{
    const double floor = std::floor(value);
    const double diff = value - floor;
    if (diff > 0.5)
        return (long long)floor + 1;
    if (diff < 0.5)
        return (long long)floor;
    const auto low = (long long)floor;
    return (low % 2 == 0) ? low : low + 1;
}

TGradProgress::TGradProgress(QWidget* parent) : QWidget(parent)
{
    resize(150, 16);
    QFont f = font();
    f.setPointSize(8);
    setFont(f);
    CalcColorComponents();

    // Only scalable faces turn cleanly, so the upright text of a vertical bar falls back to one
    // of them when its own face is not.
    const QStringList families = QFontDatabase::families();
    for (const QString& family : families) {
        if (QFontDatabase::isScalable(family))
            FTrueTypeFonts.append(family);
    }
    std::sort(FTrueTypeFonts.begin(), FTrueTypeFonts.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
}

TGradProgress::~TGradProgress() = default;

void TGradProgress::SetStyle(TStyle value)
{
    if (value == FStyle)
        return;
    FStyle = value;
    update();
}

void TGradProgress::SetBevelStyle(TBevelStyleExt value)
{
    if (value == FBevelStyle)
        return;
    FBevelStyle = value;
    update();
}

void TGradProgress::SetBevelWidth(TBevelWidth value)
{
    if (value == FBevelWidth)
        return;
    if (value >= 1 && value <= 10 && 2 * value <= height() - 4 && 2 * value <= width() - 4)
        FBevelWidth = value;
    update();
}

void TGradProgress::SetStartColor(TColor value)
{
    if (value == FStartColor)
        return;
    FStartColor = value;
    CalcColorComponents();
    update();
}

void TGradProgress::SetEndColor(TColor value)
{
    if (value == FEndColor)
        return;
    FEndColor = value;
    CalcColorComponents();
    update();
}

void TGradProgress::SetPosition(double value)
{
    if (!std::isfinite(value) || value < 0)
        return;
    if (value > FMaxValue)
        value = FMaxValue;
    if (value == FPosition)
        return;
    FPosition = value;
    // Painted now rather than queued: the extraction job runs on this thread and lets events
    // through only between chunks.
    repaint();
}

void TGradProgress::SetMaxValue(double value)
{
    if (value == FMaxValue)
        return;
    FMaxValue = value;
    if (FPosition > FMaxValue)
        FPosition = FMaxValue;
    update();
}

void TGradProgress::Stepit()
{
    SetPosition(FPosition + FStep);
}

void TGradProgress::SetShowPercent(bool value)
{
    if (value == FShowPercent)
        return;
    FShowPercent = value;
    update();
}

void TGradProgress::SetBackColor(TColor value)
{
    if (value == FBackColor)
        return;
    FBackColor = value;
    update();
}

void TGradProgress::SetFontColor(TColor value)
{
    if (value == FFontColor)
        return;
    FFontColor = value;
    update();
}

void TGradProgress::CalcColorComponents()
{
    // The raw bytes on purpose: a system colour starts the gradient from its index bytes.
    FStartR = int(FStartColor & 0xFF);
    FStartG = int((FStartColor >> 8) & 0xFF);
    FStartB = int((FStartColor >> 16) & 0xFF);
    FDeltaR = int(FEndColor & 0xFF) - FStartR;
    FDeltaG = int((FEndColor >> 8) & 0xFF) - FStartG;
    FDeltaB = int((FEndColor >> 16) & 0xFF) - FStartB;
}

QRect TGradProgress::InnerRect() const
{
    const int b = FBevelStyle == bsNone ? 1 : FBevelWidth;
    return QRect(QPoint(b, b), QPoint(width() - b - 1, height() - b - 1));
}

double TGradProgress::FilledLength() const
{
    const int extent = FStyle == gsHorizontal ? width() : height();
    // A bar without a positive maximum shows empty instead of dividing by it.
    if (!(FMaxValue > 0) || extent <= 0)
        return 0;
    const double r = FPosition * extent / FMaxValue;
    if (!std::isfinite(r))
        return 0;
    return std::clamp(r, 0.0, double(extent));
}

QString TGradProgress::PercentText() const
{
    const int extent = FStyle == gsHorizontal ? width() : height();
    const double value = extent > 0 ? FilledLength() * 100 / extent : 0;
    if (ShowDec) {
        QLocale locale;
        locale.setNumberOptions(QLocale::OmitGroupSeparator);
        return locale.toString(value, 'f', 1) + QLatin1Char('%');
    }
    return QString::number(RoundHalfEven(value)) + QLatin1Char('%');
}

void TGradProgress::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    PaintBevel(painter);

    const QRect inner = InnerRect();
    if (inner.isEmpty())
        return;
    PaintBitmap(int(RoundHalfEven(FilledLength())));
    // One copy of the inner rectangle: the bevel drawn above is never overdrawn.
    painter.drawImage(inner.topLeft(), FBitmap, inner);
}

void TGradProgress::PaintBevel(QPainter& painter)
{
    if (FBevelStyle == bsNone)
        return;
    const QColor shadow = ColorToQColor(clBtnShadow, palette());
    const QColor highlight = ColorToQColor(clBtnHighlight, palette());
    for (int i = 0; i < FBevelWidth; ++i) {
        const QRect ring(QPoint(i, i), QPoint(width() - i - 1, height() - i - 1));
        if (FBevelStyle == bsLowered)
            DrawEdgeRing(painter, ring, shadow, highlight);
        else
            DrawEdgeRing(painter, ring, highlight, shadow);
    }
}

void TGradProgress::PaintBitmap(int n)
{
    const QRect inner = InnerRect();
    const QSize size(inner.right() + 1, inner.bottom() + 1);
    if (FBitmap.size() != size)
        FBitmap = QImage(size, QImage::Format_RGB32);

    // One colour per line, from exactly the start colour at line 0 to exactly the end colour
    // at line n.
    std::vector<QRgb> lines(std::size_t(n) + 1);
    for (int i = 0; i <= n; ++i) {
        const long long c = n == 0 ? 0 : RoundHalfEven(255.0 * i / n);
        const int red = ClampByte(FStartR + RoundHalfEven(double(c * FDeltaR) / 255));
        const int green = ClampByte(FStartG + RoundHalfEven(double(c * FDeltaG) / 255));
        const int blue = ClampByte(FStartB + RoundHalfEven(double(c * FDeltaB) / 255));
        lines[std::size_t(i)] = qRgb(red, green, blue);
    }
    const QRgb back = ColorToQColor(FBackColor, palette()).rgb();

    const int h = height();
    for (int y = inner.top(); y <= inner.bottom(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(FBitmap.scanLine(y));
        if (FStyle == gsHorizontal) {
            // Line i stands at x = i; the background starts after the last line, so the end
            // colour is seen at the end of the fill.
            for (int x = 0; x <= inner.right(); ++x)
                row[x] = x <= n ? lines[std::size_t(x)] : back;
        } else {
            // Line i stands at y = height - i: the fill grows upward from the bottom.
            const int i = h - y;
            const QRgb colour = (i >= 0 && i <= n) ? lines[std::size_t(i)] : back;
            std::fill(row + inner.left(), row + inner.right() + 1, colour);
        }
    }

    if (!FShowPercent)
        return;
    const QString text = PercentText();
    const auto drawText = [&](QPainter& painter) {
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setFont(font());
        if (FStyle == gsHorizontal)
            painter.drawText(inner, Qt::AlignCenter | Qt::TextSingleLine, text);
        else
            PaintVerticalText(painter, text, inner);
    };

    // The text colour is chosen for the fill; where it stands on the unfilled part and cannot
    // be told from the background, a one-pixel halo of the opposite lightness rings the glyphs.
    const QColor ink = ColorToQColor(FFontColor, palette());
    const QColor background = ColorToQColor(FBackColor, palette());
    const QRect unfilled =
        (FStyle == gsHorizontal ? QRect(QPoint(n + 1, inner.top()), inner.bottomRight())
                                : QRect(inner.topLeft(), QPoint(inner.right(), h - n - 1))) &
        inner;
    QPainter painter(&FBitmap);
    if (ContrastRatio(ink, background) < LegibleContrast && !unfilled.isEmpty()) {
        QImage glyphs(FBitmap.size(), QImage::Format_ARGB32_Premultiplied);
        glyphs.fill(Qt::transparent);
        {
            QPainter glyphPainter(&glyphs);
            glyphPainter.setPen(Qt::white);
            drawText(glyphPainter);
        }
        const QColor halo =
            Luminance(ink) > Luminance(background) ? QColor(32, 32, 40) : QColor(255, 255, 255);
        painter.save();
        painter.setClipRect(unfilled);
        painter.drawImage(0, 0, Halo(glyphs, halo));
        painter.restore();
    }
    painter.setPen(ink);
    drawText(painter);
}

void TGradProgress::PaintVerticalText(QPainter& painter, const QString& text, const QRect& inner)
{
    QFont barFont = font();
    const QString ownName = barFont.family();
    const bool known = FTrueTypeFonts.contains(ownName, Qt::CaseInsensitive);
    if (!known && !FTrueTypeFonts.isEmpty())
        barFont.setFamily(FTrueTypeFonts.first());

    // Measured in the screen's own font, not the bar's: the bar's font only draws.
    const QFontMetrics screen(QGuiApplication::font());
    const int cx = screen.horizontalAdvance(text);
    const int cy = screen.height();

    if (width() - 2 * FBevelWidth - 6 < cx) {
        // Too narrow for the text upright: it reads downward, centred on the bar.
        const auto ox = RoundHalfEven((width() + cy - 3) / 2.0);
        const auto oy = RoundHalfEven((height() - cx + 3) / 2.0);
        painter.save();
        painter.setFont(barFont);
        painter.translate(double(ox), double(oy));
        painter.rotate(90);
        painter.drawText(QPointF(0, QFontMetricsF(barFont).ascent()), text);
        painter.restore();
    } else {
        barFont.setFamily(ownName);
        painter.setFont(barFont);
        painter.drawText(inner, Qt::AlignCenter | Qt::TextSingleLine, text);
    }
}
