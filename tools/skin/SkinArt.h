#pragma once

#include <QGradient>
#include <QImage>
#include <QList>
#include <QRect>
#include <QString>

// The main window's face: one 640 x 480 picture with every button painted on it, and for each
// button a lit twin cut from the same face painted with only that button lit, so a twin shown
// in place differs from the picture under it in the lighting alone.

struct TSkinButton
{
    QString Name; // the image control it belongs to, and its file name
    QRect Rect;   // where the lit twin is shown, in window coordinates
};

inline constexpr int FaceWidth = 640;
inline constexpr int FaceHeight = 480;

// The fourteen buttons with a lit twin, in the window's order.
const QList<TSkinButton>& SkinButtons();

// Loads the fonts the face is lettered in, from the files of the Debian font packages (so the
// pictures do not depend on what fontconfig happens to prefer). False, with the missing file in
// `missing`, when one is not installed.
bool LoadSkinFonts(QString* missing);

// The face with the button of index `lit` (into SkinButtons) lit, or none for -1.
QImage PaintFace(int lit);

// The three 16 x 16 list images: 0 audio track, 1 data track, 2 track now playing.
QImage PaintListIcon(int kind);

// The rainbow sheen of a compact disc, as a conical gradient's stops starting at
// DiscSheenAngle degrees.
const QGradientStops& DiscSheen();
inline constexpr qreal DiscSheenAngle = 35;

// The application's icon at `size` pixels square. Below 48 pixels it is drawn with fewer,
// broader strokes, so it stays legible where a scaled-down picture would blur.
QImage PaintAppIcon(int size);
inline constexpr int AppIconSizes[] = {16, 24, 32, 48, 64, 128, 256};

// The same icon as a scalable SVG document, drawn from the same design as the large bitmaps.
QByteArray AppIconSvg();
