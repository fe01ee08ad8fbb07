#include "controls/GradProgress.h"

#include <QImage>
#include <QLocale>
#include <QPalette>
#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

namespace {

const QColor kFace(200, 200, 200);
const QColor kShadow(100, 100, 100);
const QColor kLight(250, 250, 250);

// A bar of the given size with a palette whose face, shadow and highlight are known.
struct Bar
{
    explicit Bar(int w, int h, TStyle style = gsHorizontal)
    {
        QPalette pal = bar.palette();
        pal.setColor(QPalette::Button, kFace);
        pal.setColor(QPalette::Dark, kShadow);
        pal.setColor(QPalette::Light, kLight);
        bar.setPalette(pal);
        bar.resize(w, h);
        bar.SetStyle(style);
        bar.SetShowPercent(false);
    }

    QImage Render()
    {
        QImage image(bar.size(), QImage::Format_RGB32);
        image.fill(Qt::magenta);
        bar.render(&image);
        return image;
    }

    TGradProgress bar;
};

QColor At(const QImage& image, int x, int y)
{
    return image.pixelColor(x, y);
}

} // namespace

TEST(GradProgress, HorizontalHalfFillRunsFromStartToEndColourThenBackground)
{
    Bar b(270, 16);
    b.bar.SetPosition(50);
    const QImage img = b.Render();

    // The off-screen image holds line 0 in the start colour, under the bevel.
    EXPECT_EQ(b.bar.Bitmap().pixelColor(0, 5), QColor(0, 0, 255));
    // Line 1: c = round(255 / 135) = 2.
    EXPECT_EQ(At(img, 1, 8), QColor(2, 0, 253));
    EXPECT_EQ(At(img, 135, 8), QColor(255, 0, 0));
    EXPECT_EQ(At(img, 136, 8), kFace);
    EXPECT_EQ(At(img, 268, 8), kFace);

    // A lowered bevel: shadow above and left, highlight below and right.
    EXPECT_EQ(At(img, 0, 0), kShadow);
    EXPECT_EQ(At(img, 0, 8), kShadow);
    EXPECT_EQ(At(img, 100, 0), kShadow);
    EXPECT_EQ(At(img, 100, 15), kLight);
    EXPECT_EQ(At(img, 269, 8), kLight);

    b.bar.SetBevelStyle(bsRaised);
    const QImage raised = b.Render();
    EXPECT_EQ(At(raised, 100, 0), kLight);
    EXPECT_EQ(At(raised, 100, 15), kShadow);
}

TEST(GradProgress, FullAndEmptyBarsStayInsideTheBevel)
{
    Bar b(150, 16);
    b.bar.SetBevelWidth(3);
    ASSERT_EQ(b.bar.BevelWidth(), 3);
    b.bar.SetPosition(100);
    QImage img = b.Render();
    // The fill is measured on the whole width, so the last inner column holds line 146 of 150.
    EXPECT_EQ(At(img, 146, 8), QColor(248, 0, 7));
    EXPECT_EQ(At(img, 2, 8), kShadow); // innermost bevel ring
    EXPECT_EQ(At(img, 147, 8), kLight);

    b.bar.SetPosition(0);
    img = b.Render();
    for (int x = 3; x < 147; ++x)
        ASSERT_EQ(At(img, x, 8), kFace) << "column " << x;
}

TEST(GradProgress, VerticalFillsFromTheBottom)
{
    Bar b(16, 100, gsVertical);
    b.bar.SetPosition(25); // 25 rows
    const QImage img = b.Render();
    EXPECT_EQ(At(img, 8, 75), QColor(255, 0, 0)); // line 25 at y = 100 - 25
    EXPECT_EQ(At(img, 8, 74), kFace);
    EXPECT_EQ(At(img, 8, 1), kFace);
    // Line 1 at y = 99 is the bevel; line 2 (c = 20) is the lowest visible one.
    EXPECT_EQ(At(img, 8, 98), QColor(20, 0, 235));
    EXPECT_EQ(At(img, 8, 99), kLight);
}

TEST(GradProgress, NoBevelLeavesAOnePixelFrameUntouched)
{
    Bar b(100, 16);
    b.bar.SetBevelStyle(bsNone);
    b.bar.SetPosition(100);
    const QImage img = b.Render();
    EXPECT_EQ(At(img, 1, 8), QColor(3, 0, 252));  // line 1 of 100: c = round(2.55) = 3
    EXPECT_EQ(At(img, 98, 8), QColor(250, 0, 5)); // line 98: c = round(249.9) = 250
    EXPECT_NE(At(img, 0, 8), kShadow);
    EXPECT_NE(At(img, 99, 8), kLight);
}

TEST(GradProgress, GradientComponentsComeFromTheRawColourBytes)
{
    Bar b(100, 16);
    b.bar.SetStartColor(0x80000004); // a system colour: its index bytes start the gradient
    b.bar.SetEndColor(0xFF0000);
    b.bar.SetPosition(50);
    b.Render();
    EXPECT_EQ(b.bar.Bitmap().pixelColor(0, 5), QColor(4, 0, 0));
    EXPECT_EQ(b.bar.Bitmap().pixelColor(50, 5), QColor(0, 0, 255));
}

TEST(GradProgress, PercentTextFollowsShowDecAndTheLocale)
{
    Bar b(270, 16);
    b.bar.SetPosition(50);
    b.bar.ShowDec = false;
    EXPECT_EQ(b.bar.PercentText(), QStringLiteral("50%"));
    b.bar.ShowDec = true;
    EXPECT_EQ(b.bar.PercentText(), QStringLiteral("50.0%"));

    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(b.bar.PercentText(), QStringLiteral("50,0%"));
    QLocale::setDefault(saved);

    // Halves round to even.
    b.bar.ShowDec = false;
    b.bar.SetPosition(12.5);
    EXPECT_EQ(b.bar.PercentText(), QStringLiteral("12%"));
    b.bar.SetPosition(37.5);
    EXPECT_EQ(b.bar.PercentText(), QStringLiteral("38%"));
    b.bar.ShowDec = true;
    EXPECT_EQ(b.bar.PercentText(), QStringLiteral("37.5%"));
}

TEST(GradProgress, PercentTextIsDrawnInTheFontColour)
{
    for (TStyle style : {gsHorizontal, gsVertical}) {
        Bar b(style == gsHorizontal ? 200 : 20, style == gsHorizontal ? 20 : 200, style);
        b.bar.SetBackColor(0x000000);
        b.bar.SetShowPercent(true);
        b.bar.SetPosition(0);
        const QImage img = b.Render();
        int bright = 0;
        for (int y = 2; y < img.height() - 2; ++y)
            for (int x = 2; x < img.width() - 2; ++x)
                bright += qGray(img.pixel(x, y)) > 128;
        EXPECT_GT(bright, 10) << "style " << style;
    }
}

TEST(GradProgress, SettersKeepPositionWithinRange)
{
    TGradProgress bar;
    bar.SetPosition(40);
    bar.SetPosition(-1);
    EXPECT_EQ(bar.Position(), 40);
    bar.SetPosition(150);
    EXPECT_EQ(bar.Position(), 100);
    bar.SetMaxValue(60);
    EXPECT_EQ(bar.Position(), 60);
    bar.SetPosition(10);
    bar.SetStep(2.5);
    bar.Stepit();
    EXPECT_EQ(bar.Position(), 12.5);

    // Twice 7 is more than the 12 pixels a 16-pixel bar can spare.
    bar.SetBevelWidth(7);
    EXPECT_EQ(bar.BevelWidth(), 1);
    bar.SetBevelWidth(6);
    EXPECT_EQ(bar.BevelWidth(), 6);
    bar.SetBevelWidth(0);
    EXPECT_EQ(bar.BevelWidth(), 6);
}

TEST(GradProgress, NonPositiveMaximumDrawsAnEmptyBar)
{
    for (double max : {0.0, -5.0}) {
        Bar b(120, 16);
        b.bar.SetPosition(50);
        b.bar.SetMaxValue(max);
        const QImage img = b.Render();
        for (int x = 1; x < 119; ++x)
            ASSERT_EQ(At(img, x, 8), kFace) << "max " << max << " column " << x;
        EXPECT_EQ(b.bar.PercentText(), QStringLiteral("0.0%"));
    }
}

TEST(GradProgress, RoundHalfEven)
{
    EXPECT_EQ(RoundHalfEven(0.5), 0);
    EXPECT_EQ(RoundHalfEven(1.5), 2);
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(2.51), 3);
    EXPECT_EQ(RoundHalfEven(-1.5), -2);
}

// The job window's bar: white text on a fill that runs from near black to blue, over a light
// unfilled part. Wherever the text stands, the glyphs must stand out from the pixels around
// them: the median contrast between the glyphs' own colour and the pixels that ring them.
TEST(GradProgress, PercentTextIsLegibleOverTheFilledAndTheUnfilledPart)
{
    for (double position : {0.0, 30.0, 50.0, 100.0}) {
        TGradProgress bar;
        bar.resize(270, 16);
        bar.SetStartColor(clMenu);
        bar.SetEndColor(clBlue);
        bar.SetBackColor(clMenu);
        bar.SetFontColor(clWhite);
        QFont f(QStringLiteral("Arial"));
        f.setPixelSize(11);
        bar.setFont(f);
        bar.ShowDec = false;
        bar.SetPosition(position);
        const auto render = [&bar] {
            QImage image(bar.size(), QImage::Format_RGB32);
            bar.render(&image);
            return image;
        };
        const QImage with = render();
        bar.SetShowPercent(false);
        const QImage without = render();

        const QColor ink = Qt::white;
        const auto glyph = [&](int x, int y) {
            return with.pixel(x, y) != without.pixel(x, y) &&
                   ContrastRatio(with.pixelColor(x, y), ink) < 1.5;
        };
        std::vector<double> ring;
        int glyphPixels = 0;
        for (int y = 1; y < with.height() - 1; ++y) {
            for (int x = 1; x < with.width() - 1; ++x) {
                if (glyph(x, y)) {
                    ++glyphPixels;
                    continue;
                }
                if (glyph(x - 1, y) || glyph(x + 1, y) || glyph(x, y - 1) || glyph(x, y + 1))
                    ring.push_back(ContrastRatio(with.pixelColor(x, y), ink));
            }
        }
        ASSERT_GT(glyphPixels, 10) << "at " << position << "%";
        std::sort(ring.begin(), ring.end());
        EXPECT_GE(ring[ring.size() / 2], 3.0) << "at " << position << "%";
    }
}
