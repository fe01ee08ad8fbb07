#include "SkinArt.h"

#include <QConicalGradient>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>

namespace {

// The palette: graphite body, an azure accent for everything lit, a pale display for the
// status line (whose text is navy).
const QColor BodyTop(0x2c3542);
const QColor BodyBottom(0x161b23);
const QColor Edge(0x06080b);
const QColor EdgeLight(0x465264);
const QColor PanelDark(0x10141a);
const QColor PanelMid(0x1a2029);
const QColor Groove(0x0a0d11);
const QColor Bevel(0x3c4757);
const QColor Ink(0xd6dee8);
const QColor InkDim(0x8492a4);
const QColor InkFaint(0x55616f);
const QColor Accent(0x3cb8ff);
const QColor AccentDeep(0x1668c2);
const QColor AccentGlow(0x9fdcff);
const QColor Danger(0xe5483c);
const QColor DangerDeep(0xa3241b);

// The left column: the keys' left edge, and where the text commands start.
constexpr qreal ColumnLeft = 38;
constexpr qreal ColumnText = 42;

enum TButton
{
    bToWave,
    bToMP3,
    bOptions,
    bHelp,
    bExit,
    bVarnel,
    bMin,
    bClose,
    bBack,
    bPlay,
    bPause,
    bStop,
    bForward,
    bEject
};

QString UiFamily;    // captions
QString UiNarrow;    // captions in tight places
QString SmallFamily; // small letter-spaced capitals, which need a face hinted for small sizes
QString TitleFamily; // the program's name

QFont Font(const QString& family, qreal pixelSize, bool bold, qreal spacing = 0)
{
    QFont f(family);
    f.setPixelSize(qRound(pixelSize));
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferVerticalHinting);
    f.setStyleStrategy(QFont::StyleStrategy(QFont::PreferAntialias | QFont::NoSubpixelAntialias));
    if (spacing != 0)
        f.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
    return f;
}

QColor Mix(const QColor& a, const QColor& b, qreal t)
{
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * t),
                            float(a.greenF() + (b.greenF() - a.greenF()) * t),
                            float(a.blueF() + (b.blueF() - a.blueF()) * t),
                            float(a.alphaF() + (b.alphaF() - a.alphaF()) * t));
}

QColor Alpha(QColor c, int alpha)
{
    c.setAlpha(alpha);
    return c;
}

// A small fixed generator, so the brushed texture is the same on every run and machine.
struct TNoise
{
    quint32 State;
    explicit TNoise(quint32 seed) : State(seed) {}
    int Next(int range)
    {
        State = State * 1664525u + 1013904223u;
        return int((State >> 16) % quint32(range));
    }
};

// Brushed metal: each row a little lighter or darker than the next, each pixel a little noisy.
void Brush(QImage& img, const QRect& area, int rowAmp, int pixelAmp)
{
    TNoise noise(0x7a41u);
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const int row = noise.Next(2 * rowAmp + 1) - rowAmp;
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = area.left(); x <= area.right(); ++x) {
            const int d = row + noise.Next(2 * pixelAmp + 1) - pixelAmp;
            const QRgb p = line[x];
            line[x] = qRgb(qBound(0, qRed(p) + d, 255), qBound(0, qGreen(p) + d, 255),
                           qBound(0, qBlue(p) + d, 255));
        }
    }
}

QPainterPath Rounded(const QRectF& r, qreal radius)
{
    QPainterPath path;
    path.addRoundedRect(r, radius, radius);
    return path;
}

// A recessed slot: dark fill, a groove line around and a light line under its lower edge, as if
// cut into the body. `r` is the outer edge of the groove in pixel cells.
void Recess(QPainter& p, const QRectF& r, qreal radius, const QColor& fill)
{
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(Alpha(EdgeLight, 110));
    p.drawPath(Rounded(r.adjusted(-1, -1, 1, 1).translated(0, 0.5), radius + 1));
    p.setBrush(Groove);
    p.drawPath(Rounded(r, radius));
    p.setBrush(fill);
    p.drawPath(Rounded(r.adjusted(1, 1, -1, -1), qMax<qreal>(0, radius - 1)));
    // Inner shadow along the top edge.
    QLinearGradient shade(r.topLeft(), r.topLeft() + QPointF(0, 6));
    shade.setColorAt(0, QColor(0, 0, 0, 90));
    shade.setColorAt(1, QColor(0, 0, 0, 0));
    p.setBrush(shade);
    p.drawPath(Rounded(r.adjusted(1, 1, -1, -1), qMax<qreal>(0, radius - 1)));
    p.restore();
}

// A raised key: bevelled face with a soft top highlight, or lit in `lit` colours.
void Key(QPainter& p, const QRectF& r, qreal radius, bool lit, const QColor& litTop = Accent,
         const QColor& litBottom = AccentDeep)
{
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(Edge);
    p.drawPath(Rounded(r, radius));
    QLinearGradient face(r.topLeft(), r.bottomLeft());
    if (lit) {
        face.setColorAt(0, Mix(litTop, Qt::white, 0.18));
        face.setColorAt(0.5, litTop);
        face.setColorAt(1, litBottom);
    } else {
        face.setColorAt(0, QColor(0x48566a));
        face.setColorAt(0.5, QColor(0x323c4a));
        face.setColorAt(1, QColor(0x232a34));
    }
    const QRectF inner = r.adjusted(1, 1, -1, -1);
    p.setBrush(face);
    p.drawPath(Rounded(inner, radius - 1));
    // The light catching the key's upper rim.
    p.setBrush(Qt::NoBrush);
    QLinearGradient rim(r.topLeft(), r.bottomLeft());
    rim.setColorAt(0, lit ? QColor(255, 255, 255, 150) : QColor(255, 255, 255, 70));
    rim.setColorAt(0.45, QColor(255, 255, 255, 0));
    p.setPen(QPen(QBrush(rim), 1));
    p.drawPath(Rounded(inner.adjusted(0.5, 0.5, -0.5, -0.5), radius - 1.5));
    p.restore();
}

void Text(QPainter& p, const QPointF& baseline, const QString& text, const QFont& font,
          const QColor& color)
{
    p.save();
    p.setFont(font);
    p.setPen(color);
    p.drawText(baseline, text);
    p.restore();
}

// Text with a one-pixel dark shadow below, as if engraved in the body.
void EngravedText(QPainter& p, const QPointF& baseline, const QString& text, const QFont& font,
                  const QColor& color)
{
    Text(p, baseline + QPointF(0, 1), text, font, QColor(0, 0, 0, 150));
    Text(p, baseline, text, font, color);
}

qreal TextWidth(const QString& text, const QFont& font)
{
    return QFontMetricsF(font).horizontalAdvance(text);
}

// A compact disc seen from above: a silver surface with a rainbow sheen and a clear hub.
void Disc(QPainter& p, const QPointF& c, qreal radius)
{
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 110));
    p.drawEllipse(c + QPointF(0, radius * 0.06), radius * 1.02, radius * 1.02);
    QConicalGradient sheen(c, DiscSheenAngle);
    sheen.setStops(DiscSheen());
    p.setBrush(sheen);
    p.drawEllipse(c, radius, radius);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x5d6b7c), qMax<qreal>(1, radius / 28)));
    p.drawEllipse(c, radius - 0.5, radius - 0.5);
    // The clear hub and the hole.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 120));
    p.drawEllipse(c, radius * 0.36, radius * 0.36);
    p.setBrush(QColor(0x9eabb9));
    p.drawEllipse(c, radius * 0.24, radius * 0.24);
    p.setBrush(QColor(0x1c222b));
    p.drawEllipse(c, radius * 0.13, radius * 0.13);
    p.restore();
}

// ----- the face's parts, top to bottom -----

void PaintBody(QImage& img)
{
    QPainter p(&img);
    QLinearGradient body(0, 0, 0, FaceHeight);
    body.setColorAt(0, BodyTop);
    body.setColorAt(1, BodyBottom);
    p.fillRect(img.rect(), body);
    p.end();
    Brush(img, img.rect(), 1, 2);
    p.begin(&img);
    // A title band, a shade lighter, with a soft gloss over its top.
    QLinearGradient band(0, 0, 0, 57);
    band.setColorAt(0, QColor(255, 255, 255, 26));
    band.setColorAt(1, QColor(255, 255, 255, 6));
    p.fillRect(QRect(0, 0, FaceWidth, 57), band);
    p.fillRect(QRect(0, 56, FaceWidth, 1), Alpha(Edge, 200));
    p.fillRect(QRect(0, 57, FaceWidth, 1), Alpha(EdgeLight, 90));
    // The window edge: the visible face is 638 pixels wide; the picture's last two columns
    // are never shown, so they simply continue the edge.
    p.fillRect(QRect(0, 0, FaceWidth, 1), Edge);
    p.fillRect(QRect(0, FaceHeight - 1, FaceWidth, 1), Edge);
    p.fillRect(QRect(0, 0, 1, FaceHeight), Edge);
    p.fillRect(QRect(637, 0, 3, FaceHeight), Edge);
    p.fillRect(QRect(1, 1, 636, 1), Alpha(EdgeLight, 160));
    p.fillRect(QRect(1, 1, 1, FaceHeight - 2), Alpha(EdgeLight, 90));
    p.fillRect(QRect(636, 1, 1, FaceHeight - 2), Alpha(Edge, 120));
    p.fillRect(QRect(1, FaceHeight - 2, 636, 1), Alpha(Edge, 120));
}

void PaintTitle(QPainter& p)
{
    p.setRenderHint(QPainter::Antialiasing);
    Disc(p, QPointF(29, 28.5), 15);
    const QFont title = Font(TitleFamily, 27, true);
    EngravedText(p, QPointF(52, 38), QStringLiteral("Tarvik"), title, QColor(0xf2f5f9));
    const qreal after = 52 + TextWidth(QStringLiteral("Tarvik"), title) + 12;
    p.fillRect(QRectF(after, 19, 1, 22), Alpha(EdgeLight, 160));
    p.fillRect(QRectF(after + 1, 19, 1, 22), Alpha(Edge, 160));
    const QFont sub = Font(SmallFamily, 9, true, 1.6);
    EngravedText(p, QPointF(after + 12, 27), QStringLiteral("AUDIO CD EXTRACTOR"), sub, InkDim);
    EngravedText(p, QPointF(after + 12, 40), QStringLiteral("WAV \u00b7 MP3 \u00b7 PLAYER"), sub,
                 InkFaint.lighter(130));
}

void PaintWindowKeys(QPainter& p, int lit)
{
    // Minimise.
    const QRectF min(586, 22, 16, 17);
    Key(p, min, 3, lit == bMin);
    p.fillRect(QRectF(590, 32, 8, 2), lit == bMin ? QColor(Qt::white) : Ink);
    // Close.
    const QRectF close(604, 22, 16, 17);
    Key(p, close, 3, lit == bClose, Danger, DangerDeep);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(lit == bClose ? QColor(Qt::white) : Ink, 1.8, Qt::SolidLine, Qt::RoundCap));
    const QPointF c = close.center();
    p.drawLine(c + QPointF(-3.5, -3.5), c + QPointF(3.5, 3.5));
    p.drawLine(c + QPointF(-3.5, 3.5), c + QPointF(3.5, -3.5));
    p.restore();
}

void PaintStatusDisplay(QPainter& p)
{
    // The status line is navy text on this pale display, from x 20, y 72.
    const QRectF r(12, 64, 601, 32);
    Recess(p, r, 4, QColor(0xc9d9e6));
    const QRectF glass = r.adjusted(2, 2, -2, -2);
    QLinearGradient g(glass.topLeft(), glass.bottomLeft());
    g.setColorAt(0, QColor(0xe9f1f7));
    g.setColorAt(0.5, QColor(0xdbe7f0));
    g.setColorAt(0.51, QColor(0xd1e0eb));
    g.setColorAt(1, QColor(0xc4d6e4));
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawPath(Rounded(glass, 2.5));
    // A faint inner shadow so the display sits behind the body.
    QLinearGradient shade(glass.topLeft(), glass.topLeft() + QPointF(0, 5));
    shade.setColorAt(0, QColor(10, 26, 48, 60));
    shade.setColorAt(1, QColor(10, 26, 48, 0));
    p.setBrush(shade);
    p.drawPath(Rounded(glass, 2.5));
    p.restore();
    // A small engraved mark at the display's right end, where no status text reaches.
    const QFont mark = Font(SmallFamily, 8, true, 1.4);
    const QString text = QStringLiteral("STATUS");
    Text(p, QPointF(glass.right() - 8 - TextWidth(text, mark), 84), text, mark, QColor(0x7d93a8));
}

void PaintDriveRow(QPainter& p)
{
    p.setRenderHint(QPainter::Antialiasing);
    // The drive list covers 135,118 to 351,140; its slot is one pixel around it.
    Recess(p, QRectF(134, 117, 219, 25), 3, PanelDark);
    const QFont caption = Font(UiFamily, 11, true);
    const QString drive = QStringLiteral("Drive");
    const qreal w = TextWidth(drive, caption);
    EngravedText(p, QPointF(127 - w, 134), drive, caption, Ink);
    // A small disc before the caption.
    Disc(p, QPointF(127 - w - 12, 129.5), 7);

    // The select-all box (544,123, 12 x 13) and its caption share one slot.
    Recess(p, QRectF(538, 117, 75, 25), 3, PanelDark);
    const QFont sel = Font(UiFamily, 11, true);
    EngravedText(p, QPointF(559, 134), QStringLiteral("Select all"), sel, Ink);
}

void PaintListFrame(QPainter& p)
{
    // The track list covers 134,145 to 611,421.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(QRect(132, 143, 483, 282), Alpha(Edge, 90));
    p.fillRect(QRect(133, 144, 480, 279), Groove);
    p.fillRect(QRect(134, 145, 478, 277), QColor(0xf4f6f9));
    p.fillRect(QRect(133, 423, 480, 1), Alpha(EdgeLight, 120));
    p.fillRect(QRect(613, 144, 1, 280), Alpha(EdgeLight, 70));
}

void PaintSidebar(QPainter& p, int lit)
{
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF panel(12, 144, 98, 279);
    Recess(p, panel, 5, PanelMid);
    // A lighter wash behind the two extraction keys.
    QLinearGradient wash(panel.topLeft(), panel.bottomLeft());
    wash.setColorAt(0, QColor(255, 255, 255, 10));
    wash.setColorAt(0.45, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(wash);
    p.drawPath(Rounded(panel.adjusted(1, 1, -1, -1), 4));

    const QFont keyCaption = Font(SmallFamily, 10, true, 0.6);

    // To WAV: a waveform.
    {
        const bool on = lit == bToWave;
        const QRectF key(ColumnLeft, 157, 46, 38);
        Key(p, key, 5, on);
        const int heights[] = {3, 7, 12, 8, 15, 10, 13, 6, 9, 4};
        const QColor bar = on ? QColor(Qt::white) : Accent;
        const qreal x0 = key.center().x() - 10 * 3 / 2.0 + 0.5;
        for (int i = 0; i < 10; ++i) {
            const qreal h = heights[i];
            p.fillRect(QRectF(x0 + i * 3, 172 - h / 2, 2, h), bar);
        }
        const QString cap = QStringLiteral("WAV");
        EngravedText(p, QPointF(key.center().x() - TextWidth(cap, keyCaption) / 2, 190), cap,
                     keyCaption, on ? QColor(Qt::white) : Ink);
    }
    // To MP3: a pair of beamed notes.
    {
        const bool on = lit == bToMP3;
        const QRectF key(ColumnLeft, 211, 46, 38);
        Key(p, key, 5, on);
        const QColor ink = on ? QColor(Qt::white) : Accent;
        p.save();
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        const qreal cx = key.center().x();
        QPainterPath notes;
        notes.addEllipse(QPointF(cx - 6, 229.5), 3.6, 2.7);
        notes.addEllipse(QPointF(cx + 5, 227.5), 3.6, 2.7);
        p.drawPath(notes);
        p.fillRect(QRectF(cx - 3.2, 217, 1.6, 12.5), ink);
        p.fillRect(QRectF(cx + 7.8, 215, 1.6, 12.5), ink);
        QPainterPath beam;
        beam.moveTo(cx - 3.2, 217);
        beam.lineTo(cx + 9.4, 215);
        beam.lineTo(cx + 9.4, 218.2);
        beam.lineTo(cx - 3.2, 220.2);
        beam.closeSubpath();
        p.drawPath(beam);
        p.restore();
        const QString cap = QStringLiteral("MP3");
        EngravedText(p, QPointF(cx - TextWidth(cap, keyCaption) / 2, 244), cap, keyCaption,
                     on ? QColor(Qt::white) : Ink);
    }

    // Options, Help, Exit: text commands, lit as a highlighted pill.
    const QFont item = Font(UiFamily, 11, true);
    struct TItem
    {
        TButton Button;
        qreal Baseline;
        QString Text;
    };
    const TItem items[] = {
        {bOptions, 284, QStringLiteral("Options")},
        {bHelp, 329, QStringLiteral("Help")},
        {bExit, 373, QStringLiteral("Exit")},
    };
    for (const TItem& it : items) {
        const bool on = lit == it.Button;
        const qreal w = TextWidth(it.Text, item);
        const qreal x = ColumnText;
        if (on) {
            // The pill hugs the caption, but never leaves the lit twin's rectangle.
            const QRectF room = QRectF(SkinButtons()[it.Button].Rect).adjusted(2, 2, -2, -2);
            const QRectF pill = QRectF(x - 4.5, it.Baseline - 12.5, w + 10, 17).intersected(room);
            p.save();
            QLinearGradient g(pill.topLeft(), pill.bottomLeft());
            g.setColorAt(0, Alpha(Accent, 210));
            g.setColorAt(1, Alpha(AccentDeep, 230));
            p.setBrush(g);
            p.setPen(QPen(Alpha(AccentGlow, 200), 1));
            p.drawRoundedRect(pill, 4, 4);
            p.restore();
        }
        EngravedText(p, QPointF(x, it.Baseline), it.Text, item, on ? QColor(Qt::white) : Ink);
    }

    // Grooves between the groups.
    for (const qreal y : {259.0, 302.0, 346.0, 390.0}) {
        p.fillRect(QRectF(26, y, 70, 1), Alpha(Edge, 170));
        p.fillRect(QRectF(26, y + 1, 70, 1), Alpha(EdgeLight, 60));
    }
    const QFont ver = Font(SmallFamily, 8, true, 1.4);
    const QString version = QStringLiteral("VERSION 2.3");
    Text(p, QPointF(std::round(61 - TextWidth(version, ver) / 2), 410), version, ver, InkFaint);
}

void PaintGlobe(QPainter& p, const QPointF& c, qreal r, const QColor& ink)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(ink, 1.1));
    p.drawEllipse(c, r, r);
    p.drawEllipse(c, r * 0.42, r);
    p.drawLine(c + QPointF(-r, 0), c + QPointF(r, 0));
    p.drawLine(c + QPointF(0, -r), c + QPointF(0, r));
    p.restore();
}

QPainterPath TransportShape()
{
    return Rounded(QRectF(170, 435, 171, 21), 6);
}

// The six player buttons are segments of one bar: [left, right) of each segment. The columns
// between them are dividers; a lit segment keeps one unlit column on either side, so its twin's
// edge always matches the face around it.
struct TSegment
{
    TButton Button;
    qreal Left;
    qreal Right;
};
const TSegment Segments[] = {
    {bBack, 170, 198}, {bPlay, 199, 228},    {bPause, 229, 257},
    {bStop, 258, 285}, {bForward, 286, 313}, {bEject, 314, 341},
};

void PaintTransportGlyph(QPainter& p, TButton b, const QPointF& c, const QColor& ink)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    auto triangle = [&](qreal x, qreal y, qreal w, qreal h, bool right) {
        QPainterPath t;
        if (right) {
            t.moveTo(x, y - h / 2);
            t.lineTo(x + w, y);
            t.lineTo(x, y + h / 2);
        } else {
            t.moveTo(x + w, y - h / 2);
            t.lineTo(x, y);
            t.lineTo(x + w, y + h / 2);
        }
        t.closeSubpath();
        p.drawPath(t);
    };
    switch (b) {
    case bBack:
        p.drawRect(QRectF(c.x() - 6, c.y() - 4.5, 2, 9));
        triangle(c.x() - 4, c.y(), 5, 9, false);
        triangle(c.x() + 1, c.y(), 5, 9, false);
        break;
    case bPlay:
        triangle(c.x() - 3.5, c.y(), 8, 10, true);
        break;
    case bPause:
        p.drawRect(QRectF(c.x() - 4, c.y() - 4.5, 3, 9));
        p.drawRect(QRectF(c.x() + 1, c.y() - 4.5, 3, 9));
        break;
    case bStop:
        p.drawRect(QRectF(c.x() - 4, c.y() - 4, 8, 8));
        break;
    case bForward:
        triangle(c.x() - 6, c.y(), 5, 9, true);
        triangle(c.x() - 1, c.y(), 5, 9, true);
        p.drawRect(QRectF(c.x() + 4, c.y() - 4.5, 2, 9));
        break;
    case bEject: {
        QPainterPath up;
        up.moveTo(c.x() - 5, c.y() + 1);
        up.lineTo(c.x(), c.y() - 5);
        up.lineTo(c.x() + 5, c.y() + 1);
        up.closeSubpath();
        p.drawPath(up);
        p.drawRect(QRectF(c.x() - 5, c.y() + 2.5, 10, 2));
        break;
    }
    default:
        break;
    }
    p.restore();
}

void PaintDeck(QPainter& p, int lit)
{
    p.setRenderHint(QPainter::Antialiasing);
    Recess(p, QRectF(12, 430, 601, 38), 5, PanelMid);

    // The maker's link.
    {
        const bool on = lit == bVarnel;
        const QColor ink = on ? AccentGlow : InkDim;
        PaintGlobe(p, QPointF(21.5, 454.5), 5.5, on ? AccentGlow : Accent);
        const QFont f = Font(UiFamily, 11, true);
        const QString text = QStringLiteral("On the web");
        EngravedText(p, QPointF(31, 459), text, f, ink);
        if (on)
            p.fillRect(QRectF(31, 461, TextWidth(text, f), 1), AccentGlow);
    }

    // The player bar.
    const QPainterPath bar = TransportShape();
    p.setPen(Qt::NoPen);
    p.setBrush(Edge);
    p.drawPath(bar);
    QLinearGradient face(0, 436, 0, 455);
    face.setColorAt(0, QColor(0x4a586c));
    face.setColorAt(0.5, QColor(0x333d4b));
    face.setColorAt(1, QColor(0x222932));
    const QPainterPath inner = Rounded(QRectF(171, 436, 169, 19), 5);
    p.setBrush(face);
    p.drawPath(inner);
    for (const TSegment& s : Segments) {
        if (s.Button != lit)
            continue;
        QPainterPath area;
        area.addRect(QRectF(s.Left + 1, 435, s.Right - s.Left - 2, 21));
        QLinearGradient g(0, 436, 0, 455);
        g.setColorAt(0, Mix(Accent, Qt::white, 0.2));
        g.setColorAt(0.5, Accent);
        g.setColorAt(1, AccentDeep);
        p.setBrush(g);
        p.drawPath(inner.intersected(area));
    }
    // Dividers, a dark cut with a light edge after it.
    p.setRenderHint(QPainter::Antialiasing, false);
    for (const qreal x : {198.0, 228.0, 257.0, 285.0, 313.0}) {
        p.fillRect(QRectF(x, 437, 1, 17), Alpha(Edge, 230));
    }
    p.setRenderHint(QPainter::Antialiasing);
    // The upper rim.
    QLinearGradient rim(0, 436, 0, 446);
    rim.setColorAt(0, QColor(255, 255, 255, 80));
    rim.setColorAt(1, QColor(255, 255, 255, 0));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QBrush(rim), 1));
    p.drawPath(Rounded(QRectF(171.5, 436.5, 168, 18), 4.5));
    for (const TSegment& s : Segments) {
        const QPointF c((s.Left + s.Right) / 2, 445.5);
        PaintTransportGlyph(p, s.Button, c, s.Button == lit ? QColor(Qt::white) : Ink);
    }

    const QFont label = Font(SmallFamily, 8, true, 1.6);
    EngravedText(p, QPointF(352, 449.5), QStringLiteral("CD PLAYER"), label, InkDim);
    // A speaker grille at the deck's right end.
    p.setPen(Qt::NoPen);
    for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 24; ++col) {
            const QPointF c(510.5 + col * 4 + (row % 2) * 2, 442.5 + row * 4);
            p.setBrush(Alpha(Edge, 230));
            p.drawEllipse(c, 1.3, 1.3);
            p.setBrush(Alpha(EdgeLight, 70));
            p.drawEllipse(c + QPointF(0, 0.8), 0.7, 0.5);
        }
    }
}

} // namespace

const QList<TSkinButton>& SkinButtons()
{
    static const QList<TSkinButton> buttons{
        {QStringLiteral("imgToWave"), QRect(38, 156, 59, 41)},
        {QStringLiteral("imgToMP3"), QRect(36, 210, 52, 40)},
        {QStringLiteral("imgOptions"), QRect(36, 269, 54, 22)},
        {QStringLiteral("imgHelp"), QRect(36, 315, 36, 20)},
        {QStringLiteral("imgExit"), QRect(35, 359, 36, 20)},
        {QStringLiteral("imgVarnel"), QRect(12, 445, 95, 19)},
        {QStringLiteral("imgMin"), QRect(585, 21, 18, 20)},
        {QStringLiteral("imgClose"), QRect(603, 20, 18, 20)},
        {QStringLiteral("imgBack"), QRect(169, 435, 29, 23)},
        {QStringLiteral("imgPlay"), QRect(199, 433, 29, 23)},
        {QStringLiteral("imgPause"), QRect(229, 434, 29, 23)},
        {QStringLiteral("imgStop"), QRect(258, 434, 29, 23)},
        {QStringLiteral("imgForward"), QRect(285, 434, 29, 23)},
        {QStringLiteral("imgEject"), QRect(313, 434, 29, 23)},
    };
    return buttons;
}

bool LoadSkinFonts(QString* missing)
{
    struct TFontFile
    {
        const char* Path;
        QString* Family;
    };
    const TFontFile files[] = {
        {"/usr/share/fonts/opentype/urw-base35/NimbusSans-Bold.otf", &UiFamily},
        {"/usr/share/fonts/opentype/urw-base35/NimbusSansNarrow-Bold.otf", &UiNarrow},
        {"/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf", &SmallFamily},
        {"/usr/share/fonts/opentype/urw-base35/URWGothic-Demi.otf", &TitleFamily},
    };
    for (const TFontFile& f : files) {
        const QString path = QString::fromLatin1(f.Path);
        const int id = QFile::exists(path) ? QFontDatabase::addApplicationFont(path) : -1;
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        if (id < 0 || families.isEmpty()) {
            if (missing != nullptr)
                *missing = path;
            return false;
        }
        *f.Family = families.first();
    }
    return true;
}

QImage PaintFace(int lit)
{
    QImage img(FaceWidth, FaceHeight, QImage::Format_RGB32);
    PaintBody(img);
    QPainter p(&img);
    PaintTitle(p);
    PaintWindowKeys(p, lit);
    PaintStatusDisplay(p);
    PaintDriveRow(p);
    PaintListFrame(p);
    PaintSidebar(p, lit);
    PaintDeck(p, lit);
    return img;
}

QImage PaintListIcon(int kind)
{
    QImage img(16, 16, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    if (kind == 0) {
        // An audio track: a note on a small blue disc.
        QRadialGradient g(QPointF(6, 5), 10);
        g.setColorAt(0, QColor(0x7fd0ff));
        g.setColorAt(1, QColor(0x1668c2));
        p.setPen(QPen(QColor(0x0d3f7a), 1));
        p.setBrush(g);
        p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(6.2, 11), 2.4, 1.9);
        p.drawRect(QRectF(7.6, 3.5, 1.3, 7.5));
        QPainterPath flag;
        flag.moveTo(8.9, 3.5);
        flag.cubicTo(11.5, 4.5, 12, 6.5, 11, 8.5);
        flag.cubicTo(11, 7, 10.2, 6.2, 8.9, 6);
        flag.closeSubpath();
        p.drawPath(flag);
    } else if (kind == 1) {
        // A data track: a grey page with a folded corner and lines of text.
        QPainterPath page;
        page.moveTo(2.5, 0.5);
        page.lineTo(10, 0.5);
        page.lineTo(13.5, 4);
        page.lineTo(13.5, 15.5);
        page.lineTo(2.5, 15.5);
        page.closeSubpath();
        QLinearGradient g(0, 0, 0, 16);
        g.setColorAt(0, QColor(0xfafbfc));
        g.setColorAt(1, QColor(0xd2d8df));
        p.setPen(QPen(QColor(0x5b6674), 1));
        p.setBrush(g);
        p.drawPath(page);
        p.setBrush(QColor(0xb8c1cb));
        QPainterPath fold;
        fold.moveTo(10, 0.5);
        fold.lineTo(10, 4);
        fold.lineTo(13.5, 4);
        fold.closeSubpath();
        p.drawPath(fold);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x7b8794));
        for (int i = 0; i < 4; ++i)
            p.drawRect(QRectF(4.5, 6 + i * 2.3, i == 3 ? 4.5 : 7, 1.1));
    } else {
        // The track now playing: a green disc with a white play mark.
        QRadialGradient g(QPointF(6, 5), 10);
        g.setColorAt(0, QColor(0x8ff0a0));
        g.setColorAt(1, QColor(0x1f9d3a));
        p.setPen(QPen(QColor(0x0f5e22), 1));
        p.setBrush(g);
        p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        QPainterPath play;
        play.moveTo(6, 4.3);
        play.lineTo(12, 8);
        play.lineTo(6, 11.7);
        play.closeSubpath();
        p.drawPath(play);
    }
    return img;
}

const QGradientStops& DiscSheen()
{
    static const QGradientStops stops = {
        {0.00, QColor(0xe8eef4)}, {0.10, QColor(0xa9d8ff)}, {0.18, QColor(0xf2f6fa)},
        {0.30, QColor(0x9aa7b6)}, {0.42, QColor(0xd9c3f0)}, {0.50, QColor(0xeef2f6)},
        {0.60, QColor(0xa2f0e0)}, {0.68, QColor(0xf4f7fa)}, {0.80, QColor(0x8c99a8)},
        {0.90, QColor(0xffe3b0)}, {1.00, QColor(0xe8eef4)},
    };
    return stops;
}
