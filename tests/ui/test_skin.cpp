// The skin as shipped beside the program: every picture decodes at the size its control has,
// every lit twin lights its button and meets the face around it without a seam.
#include "platform/DataFiles.h"
#include "platform/jpeg/Jpeg.h"

#include <QImage>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

struct TTwin
{
    const char* Name;
    QRect Rect;
};

// Where the window shows each lit twin, and its size.
const TTwin Twins[] = {
    {"imgToWave", QRect(38, 156, 59, 41)},   {"imgToMP3", QRect(36, 210, 52, 40)},
    {"imgOptions", QRect(36, 269, 54, 22)},  {"imgHelp", QRect(36, 315, 36, 20)},
    {"imgExit", QRect(35, 359, 36, 20)},     {"imgVarnel", QRect(12, 445, 95, 19)},
    {"imgMin", QRect(585, 21, 18, 20)},      {"imgClose", QRect(603, 20, 18, 20)},
    {"imgBack", QRect(169, 435, 29, 23)},    {"imgPlay", QRect(199, 433, 29, 23)},
    {"imgPause", QRect(229, 434, 29, 23)},   {"imgStop", QRect(258, 434, 29, 23)},
    {"imgForward", QRect(285, 434, 29, 23)}, {"imgEject", QRect(313, 434, 29, 23)},
};

QImage Load(const QString& relative)
{
    const QString path = FindDataFile(relative);
    EXPECT_FALSE(path.isEmpty()) << qPrintable(relative) << " is not beside the program";
    return path.isEmpty() ? QImage() : LoadJpegImage(path);
}

int Difference(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b))});
}

} // namespace

TEST(Skin, EveryTwinLightsItsButtonInPlace)
{
    const QImage face = Load(QStringLiteral("skin/background.jpg"));
    ASSERT_EQ(face.size(), QSize(640, 480));
    for (const TTwin& t : Twins) {
        SCOPED_TRACE(t.Name);
        const QImage twin = Load(QStringLiteral("skin/%1.jpg").arg(QLatin1String(t.Name)));
        ASSERT_EQ(twin.size(), t.Rect.size());
        const QImage under = face.copy(t.Rect);

        // Its edge is the face's own, so showing it leaves no seam (only JPEG noise differs).
        int worstEdge = 0;
        long edgeSum = 0;
        int edgeCount = 0;
        for (int y = 0; y < twin.height(); ++y)
            for (int x = 0; x < twin.width(); ++x)
                if (x == 0 || y == 0 || x == twin.width() - 1 || y == twin.height() - 1) {
                    const int d = Difference(twin.pixel(x, y), under.pixel(x, y));
                    worstEdge = std::max(worstEdge, d);
                    edgeSum += d;
                    ++edgeCount;
                }
        EXPECT_LE(worstEdge, 12);
        EXPECT_LE(double(edgeSum) / edgeCount, 4.0);

        // And it is visibly lit: a good part of it is far from the face under it.
        int lit = 0;
        for (int y = 0; y < twin.height(); ++y)
            for (int x = 0; x < twin.width(); ++x)
                if (Difference(twin.pixel(x, y), under.pixel(x, y)) > 60)
                    ++lit;
        EXPECT_GE(lit, twin.width() * twin.height() / 20);
    }
}

TEST(Skin, TwinsSitWhereTheyWerePainted)
{
    // A twin shifted by a pixel matches the face worse than in place: the outputs belong to
    // this table and are not stale.
    const QImage face = Load(QStringLiteral("skin/background.jpg"));
    ASSERT_FALSE(face.isNull());
    for (const TTwin& t : Twins) {
        SCOPED_TRACE(t.Name);
        const QImage twin = Load(QStringLiteral("skin/%1.jpg").arg(QLatin1String(t.Name)));
        ASSERT_FALSE(twin.isNull());
        auto misfit = [&](int dx, int dy) {
            long sum = 0;
            for (int y = 0; y < twin.height(); ++y)
                for (int x = 0; x < twin.width(); ++x)
                    sum += Difference(twin.pixel(x, y),
                                      face.pixel(t.Rect.x() + x + dx, t.Rect.y() + y + dy));
            return sum;
        };
        const long inPlace = misfit(0, 0);
        for (const QPoint d : {QPoint(1, 0), QPoint(-1, 0), QPoint(0, 1), QPoint(0, -1)})
            EXPECT_LT(inPlace, misfit(d.x(), d.y())) << d.x() << "," << d.y();
    }
}

TEST(Skin, IconsShipAtTheirSizes)
{
    for (const char* name : {"audio", "data", "playing"}) {
        const QString path = FindDataFile(QStringLiteral("icons/%1.png").arg(QLatin1String(name)));
        const QImage icon(path);
        ASSERT_FALSE(icon.isNull()) << name;
        EXPECT_EQ(icon.size(), QSize(16, 16)) << name;
        EXPECT_TRUE(icon.hasAlphaChannel()) << name; // they sit on list rows of any colour
    }
    const QImage app(FindDataFile(QStringLiteral("icons/tarvik.png")));
    EXPECT_EQ(app.size(), QSize(256, 256));
}
