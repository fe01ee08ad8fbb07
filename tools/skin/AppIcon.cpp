// The program icon: a graphite plate, a compact disc, and an azure waveform running out of it.
// The design is a short list of drawing steps on a 256-unit square, played either onto a
// QPainter (the bitmaps) or into an SVG document (the scalable icon), so the two cannot drift.
#include "SkinArt.h"

#include <QConicalGradient>
#include <QLinearGradient>
#include <QPainter>
#include <QRegularExpression>
#include <cmath>
#include <vector>

namespace {

// A flat colour, or a vertical gradient from Top at y = Y0 to Bottom at y = Y1.
struct TFill
{
    QColor Top;
    QColor Bottom;
    qreal Y0 = 0;
    qreal Y1 = 0;

    TFill(const QColor& c) : Top(c), Bottom(c) {}
    TFill(const QColor& top, const QColor& bottom, qreal y0, qreal y1)
        : Top(top), Bottom(bottom), Y0(y0), Y1(y1)
    {
    }
    bool Flat() const { return Top == Bottom; }
};

class TIconCanvas
{
public:
    virtual ~TIconCanvas() = default;
    virtual void Fill(const QRectF& r, qreal radius, const TFill& fill) = 0;
    virtual void Stroke(const QRectF& r, qreal radius, const QColor& colour, qreal width) = 0;
    // The disc's rainbow sheen over the circle of radius r around c.
    virtual void Sheen(const QPointF& c, qreal r) = 0;
};

QRectF Circle(const QPointF& c, qreal r)
{
    return QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r);
}

void DrawAppIcon(TIconCanvas& canvas, bool small)
{
    const QRectF plate(14, 14, 228, 228);
    canvas.Fill(plate.translated(0, 4), 46, QColor(0, 0, 0, 70));
    canvas.Fill(plate, 46, TFill(QColor(0x3a4556), QColor(0x141920), plate.top(), plate.bottom()));
    if (!small)
        canvas.Stroke(plate.adjusted(2, 2, -2, -2), 44, QColor(255, 255, 255, 50), 2);

    // The disc. Small icons get a larger disc and a bolder rim, which read better than detail.
    const QPointF c = small ? QPointF(112, 112) : QPointF(118, 118);
    const qreal r = small ? 86 : 82;
    canvas.Fill(Circle(c + QPointF(0, r * 0.06), r * 1.02), r * 1.02, QColor(0, 0, 0, 110));
    canvas.Sheen(c, r);
    const qreal rim = small ? 9 : r / 28;
    const qreal rimRadius = small ? r - rim / 2 : r - 0.5;
    canvas.Stroke(Circle(c, rimRadius), rimRadius, QColor(0x5d6b7c), rim);
    canvas.Fill(Circle(c, r * 0.36), r * 0.36, QColor(255, 255, 255, 120));
    canvas.Fill(Circle(c, r * 0.24), r * 0.24, QColor(0x9eabb9));
    canvas.Fill(Circle(c, r * (small ? 0.16 : 0.13)), r * (small ? 0.16 : 0.13), QColor(0x1c222b));

    // The waveform: seven slim bars, or three broad ones that still show at 16 pixels.
    struct TBars
    {
        qreal Left, Pitch, Width, Radius;
        std::vector<int> Heights;
    };
    const TBars bars = small ? TBars{148, 32, 24, 6, {56, 104, 72}}
                             : TBars{150, 12, 8, 4, {26, 46, 70, 52, 84, 60, 36}};
    qreal x = bars.Left;
    for (const int h : bars.Heights) {
        const QRectF bar(x, 188 - h / 2.0, bars.Width, h);
        canvas.Fill(bar.translated(0, 3), bars.Radius, QColor(0, 0, 0, 90));
        canvas.Fill(bar, bars.Radius,
                    TFill(QColor(0x9fdcff), QColor(0x1668c2), bar.top(), bar.bottom()));
        x += bars.Pitch;
    }
}

class TPainterCanvas : public TIconCanvas
{
public:
    explicit TPainterCanvas(QPainter& p) : P(p) {}

    void Fill(const QRectF& r, qreal radius, const TFill& fill) override
    {
        P.setPen(Qt::NoPen);
        if (fill.Flat()) {
            P.setBrush(fill.Top);
        } else {
            QLinearGradient g(0, fill.Y0, 0, fill.Y1);
            g.setColorAt(0, fill.Top);
            g.setColorAt(1, fill.Bottom);
            P.setBrush(g);
        }
        P.drawRoundedRect(r, radius, radius);
    }
    void Stroke(const QRectF& r, qreal radius, const QColor& colour, qreal width) override
    {
        P.setPen(QPen(colour, width));
        P.setBrush(Qt::NoBrush);
        P.drawRoundedRect(r, radius, radius);
    }
    void Sheen(const QPointF& c, qreal r) override
    {
        QConicalGradient g(c, DiscSheenAngle);
        g.setStops(DiscSheen());
        P.setPen(Qt::NoPen);
        P.setBrush(g);
        P.drawEllipse(c, r, r);
    }

private:
    QPainter& P;
};

// Two decimals at most, without trailing zeros: "14", "1.5", "0.27".
QString Number(qreal v)
{
    QString text = QString::number(v, 'f', 2);
    if (text.contains(QLatin1Char('.')))
        text.remove(QRegularExpression(QStringLiteral("\\.?0+$")));
    return text == QLatin1String("-0") ? QStringLiteral("0") : text;
}

QString Colour(const QColor& c)
{
    return c.name(QColor::HexRgb);
}

// Opacity as an SVG attribute, left out for opaque colours.
QString Opacity(const char* attribute, const QColor& c)
{
    if (c.alpha() == 255)
        return QString();
    return QStringLiteral(" %1=\"%2\"").arg(QLatin1String(attribute), Number(c.alphaF()));
}

QColor SheenAt(qreal t)
{
    const QGradientStops& stops = DiscSheen();
    for (int i = 1; i < stops.size(); ++i)
        if (t <= stops[i].first) {
            const qreal span = stops[i].first - stops[i - 1].first;
            const qreal k = span > 0 ? (t - stops[i - 1].first) / span : 0;
            const QColor& a = stops[i - 1].second;
            const QColor& b = stops[i].second;
            return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * k),
                                    float(a.greenF() + (b.greenF() - a.greenF()) * k),
                                    float(a.blueF() + (b.blueF() - a.blueF()) * k));
        }
    return stops.last().second;
}

class TSvgCanvas : public TIconCanvas
{
public:
    void Fill(const QRectF& r, qreal radius, const TFill& fill) override
    {
        QString paint;
        if (fill.Flat()) {
            paint = QStringLiteral("fill=\"%1\"%2")
                        .arg(Colour(fill.Top), Opacity("fill-opacity", fill.Top));
        } else {
            const QString id = QStringLiteral("g%1").arg(++Gradients);
            Defs += QStringLiteral("    <linearGradient id=\"%1\" gradientUnits=\"userSpaceOnUse\" "
                                   "x1=\"0\" y1=\"%2\" x2=\"0\" y2=\"%3\">\n"
                                   "      <stop offset=\"0\" stop-color=\"%4\"/>\n"
                                   "      <stop offset=\"1\" stop-color=\"%5\"/>\n"
                                   "    </linearGradient>\n")
                        .arg(id, Number(fill.Y0), Number(fill.Y1), Colour(fill.Top),
                             Colour(fill.Bottom));
            paint = QStringLiteral("fill=\"url(#%1)\"").arg(id);
        }
        Body +=
            QStringLiteral("  <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" rx=\"%5\" %6/>\n")
                .arg(Number(r.x()), Number(r.y()), Number(r.width()), Number(r.height()),
                     Number(std::min(radius, std::min(r.width(), r.height()) / 2)), paint);
    }
    void Stroke(const QRectF& r, qreal radius, const QColor& colour, qreal width) override
    {
        Body += QStringLiteral("  <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" rx=\"%5\" "
                               "fill=\"none\" stroke=\"%6\"%7 stroke-width=\"%8\"/>\n")
                    .arg(Number(r.x()), Number(r.y()), Number(r.width()), Number(r.height()),
                         Number(std::min(radius, std::min(r.width(), r.height()) / 2)),
                         Colour(colour), Opacity("stroke-opacity", colour), Number(width));
    }
    // SVG has no conical gradient: the sheen is a fan of narrow wedges, each in the gradient's
    // colour at its middle, each stroked in its own colour so neighbours overlap without seams.
    void Sheen(const QPointF& c, qreal r) override
    {
        constexpr int Wedges = 120;
        constexpr qreal Pi = 3.14159265358979323846;
        Body += QStringLiteral("  <g stroke-width=\"0.8\" stroke-linejoin=\"round\">\n");
        for (int i = 0; i < Wedges; ++i) {
            // Counter-clockwise on screen from DiscSheenAngle, as the painter's gradient runs.
            const qreal a0 = (DiscSheenAngle + 360.0 * i / Wedges) * Pi / 180;
            const qreal a1 = (DiscSheenAngle + 360.0 * (i + 1) / Wedges) * Pi / 180;
            const QString colour = Colour(SheenAt((i + 0.5) / Wedges));
            Body += QStringLiteral("    <path d=\"M%1 %2L%3 %4A%5 %5 0 0 0 %6 %7Z\" fill=\"%8\" "
                                   "stroke=\"%8\"/>\n")
                        .arg(Number(c.x()), Number(c.y()), Number(c.x() + r * std::cos(a0)),
                             Number(c.y() - r * std::sin(a0)), Number(r),
                             Number(c.x() + r * std::cos(a1)), Number(c.y() - r * std::sin(a1)),
                             colour);
        }
        Body += QStringLiteral("  </g>\n");
    }

    QByteArray Document() const
    {
        QString svg = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                     "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" "
                                     "height=\"256\" viewBox=\"0 0 256 256\">\n"
                                     "  <title>Tarvik</title>\n");
        if (!Defs.isEmpty())
            svg += QStringLiteral("  <defs>\n") + Defs + QStringLiteral("  </defs>\n");
        svg += Body + QStringLiteral("</svg>\n");
        return svg.toUtf8();
    }

private:
    QString Defs;
    QString Body;
    int Gradients = 0;
};

} // namespace

QImage PaintAppIcon(int size)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);
    TPainterCanvas canvas(p);
    DrawAppIcon(canvas, size < 48);
    return img;
}

QByteArray AppIconSvg()
{
    TSvgCanvas canvas;
    DrawAppIcon(canvas, false);
    return canvas.Document();
}
