// Paints the main window's skin and the list and program icons into res/, and checks that every
// lit twin differs from the face under it inside its own rectangle only.
//
//   tarvik-skin RESDIR                 writes RESDIR/skin/*.jpg, RESDIR/icons/*.png and the
//                                      program icon's theme folders in RESDIR/hicolor
//   tarvik-skin --preview RESDIR DIR   decodes what RESDIR holds and writes, into DIR, the face
//                                      at rest and with each twin shown in place (PNG)
#include "SkinArt.h"

#include "platform/jpeg/Jpeg.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <cstdio>

namespace {

// JPEG quality of the shipped pictures: high enough that a twin and the face under it, encoded
// on different block grids, cannot be told apart outside the lighting.
constexpr int SkinQuality = 98;

int Fail(const QString& message)
{
    std::fprintf(stderr, "tarvik-skin: %s\n", qPrintable(message));
    return 1;
}

// Whatever a button lights must stay inside its twin's rectangle, one pixel clear of its edge:
// then a twin shown in place meets the face around it without a seam, and lights no neighbour.
bool LightingStaysInside(const QImage& rest, const QImage& lit, const QRect& rect)
{
    const QRect inner = rect.adjusted(1, 1, -1, -1);
    for (int y = 0; y < rest.height(); ++y)
        for (int x = 0; x < rest.width(); ++x)
            if (!inner.contains(x, y) && rest.pixel(x, y) != lit.pixel(x, y)) {
                std::fprintf(stderr, "tarvik-skin: first stray pixel at %d,%d\n", x, y);
                return false;
            }
    return rest.copy(rect) != lit.copy(rect);
}

int Generate(const QString& resDir)
{
    const QDir res(resDir);
    if (!res.mkpath(QStringLiteral("skin")) || !res.mkpath(QStringLiteral("icons")))
        return Fail(QStringLiteral("cannot create the folders in %1").arg(resDir));

    const QImage rest = PaintFace(-1);
    if (!SaveJpegImage(rest, res.filePath(QStringLiteral("skin/background.jpg")), SkinQuality))
        return Fail(QStringLiteral("cannot write background.jpg"));
    const QList<TSkinButton>& buttons = SkinButtons();
    for (int i = 0; i < buttons.size(); ++i) {
        const QImage lit = PaintFace(i);
        if (!LightingStaysInside(rest, lit, buttons[i].Rect))
            return Fail(QStringLiteral("%1 lights outside its rectangle, or not at all")
                            .arg(buttons[i].Name));
        const QString file = QStringLiteral("skin/%1.jpg").arg(buttons[i].Name);
        if (!SaveJpegImage(lit.copy(buttons[i].Rect), res.filePath(file), SkinQuality))
            return Fail(QStringLiteral("cannot write %1").arg(file));
    }

    const char* icons[] = {"audio", "data", "playing"};
    for (int i = 0; i < 3; ++i) {
        const QString file = QStringLiteral("icons/%1.png").arg(QLatin1String(icons[i]));
        if (!PaintListIcon(i).save(res.filePath(file), "PNG"))
            return Fail(QStringLiteral("cannot write %1").arg(file));
    }
    // The window's own icon beside the program, and the desktop's icon theme at every size it
    // looks up, with the scalable drawing for the rest.
    if (!PaintAppIcon(256).save(res.filePath(QStringLiteral("icons/tarvik.png")), "PNG"))
        return Fail(QStringLiteral("cannot write icons/tarvik.png"));
    for (const int size : AppIconSizes) {
        const QString folder = QStringLiteral("hicolor/%1x%1/apps").arg(size);
        if (!res.mkpath(folder) ||
            !PaintAppIcon(size).save(res.filePath(folder + QStringLiteral("/tarvik.png")), "PNG"))
            return Fail(QStringLiteral("cannot write %1/tarvik.png").arg(folder));
    }
    QFile svg(res.filePath(QStringLiteral("hicolor/scalable/apps/tarvik.svg")));
    if (!res.mkpath(QStringLiteral("hicolor/scalable/apps")) || !svg.open(QIODevice::WriteOnly) ||
        svg.write(AppIconSvg()) < 0 || !svg.flush())
        return Fail(QStringLiteral("cannot write hicolor/scalable/apps/tarvik.svg"));
    return 0;
}

int Preview(const QString& resDir, const QString& outDir)
{
    const QDir res(resDir);
    QDir out(outDir);
    if (!out.mkpath(QStringLiteral(".")))
        return Fail(QStringLiteral("cannot create %1").arg(outDir));
    const QImage face = LoadJpegImage(res.filePath(QStringLiteral("skin/background.jpg")));
    if (face.isNull())
        return Fail(QStringLiteral("cannot decode background.jpg"));
    // The window shows 638 of the picture's 640 columns.
    face.copy(0, 0, 638, 480).save(out.filePath(QStringLiteral("skin-rest.png")));
    for (const TSkinButton& b : SkinButtons()) {
        const QImage twin = LoadJpegImage(res.filePath(QStringLiteral("skin/%1.jpg").arg(b.Name)));
        if (twin.isNull() || twin.size() != b.Rect.size())
            return Fail(QStringLiteral("%1.jpg is missing or has the wrong size").arg(b.Name));
        QImage shown = face.copy(0, 0, 638, 480);
        QPainter p(&shown);
        p.drawImage(b.Rect.topLeft(), twin);
        p.end();
        shown.save(out.filePath(QStringLiteral("skin-%1.png").arg(b.Name)));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    QString missing;
    if (!LoadSkinFonts(&missing))
        return Fail(QStringLiteral("font file %1 is not installed").arg(missing));
    if (args.size() == 1)
        return Generate(args[0]);
    if (args.size() == 3 && args[0] == QLatin1String("--preview"))
        return Preview(args[1], args[2]);
    return Fail(QStringLiteral("usage: tarvik-skin RESDIR | --preview RESDIR DIR"));
}
