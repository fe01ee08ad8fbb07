#pragma once

#include "controls/Graphics.h"

#include <QImage>
#include <QStringList>
#include <QWidget>
#include <cstdint>

enum TStyle
{
    gsVertical = 0,   // fills from the bottom up
    gsHorizontal = 1, // fills from left to right
};

enum TBevelStyleExt
{
    bsLowered = 0,
    bsRaised = 1,
    bsNone = 2,
};

// 1..10 pixels.
using TBevelWidth = std::uint8_t;

// A progress bar filled with a colour gradient inside an optional bevel, with the percentage
// written over it. The gradient is stretched over the filled part only: however short the bar,
// it runs from StartColor at its start to exactly EndColor at its current end.
//
// Every setter does nothing when given the value already held. A Position change paints at
// once, so a long job on the user-interface thread still shows its progress.
class TGradProgress : public QWidget
{
    Q_OBJECT

public:
    explicit TGradProgress(QWidget* parent = nullptr);
    ~TGradProgress() override;

    TStyle Style() const { return FStyle; }
    void SetStyle(TStyle value);

    // The text with one decimal; a plain field, read at the next paint.
    bool ShowDec = true;

    TBevelStyleExt BevelStyle() const { return FBevelStyle; }
    void SetBevelStyle(TBevelStyleExt value);

    // Kept only when twice the value leaves at least 4 pixels of both width and height, and
    // only within 1..10; the bar repaints either way.
    TBevelWidth BevelWidth() const { return FBevelWidth; }
    void SetBevelWidth(TBevelWidth value);

    TColor StartColor() const { return FStartColor; }
    void SetStartColor(TColor value);
    TColor EndColor() const { return FEndColor; }
    void SetEndColor(TColor value);

    // A negative (or not finite) value is ignored; a value above MaxValue becomes MaxValue.
    double Position() const { return FPosition; }
    void SetPosition(double value);

    // Pulls Position down to it when Position is above. At or below zero the bar shows empty.
    double MaxValue() const { return FMaxValue; }
    void SetMaxValue(double value);

    // The increment of Stepit; no repaint.
    double Step() const { return FStep; }
    void SetStep(double value) { FStep = value; }
    void Stepit();

    bool ShowPercent() const { return FShowPercent; }
    void SetShowPercent(bool value);

    TColor BackColor() const { return FBackColor; }
    void SetBackColor(TColor value);

    // The colour of the percentage text (white at creation).
    TColor FontColor() const { return FFontColor; }
    void SetFontColor(TColor value);

    // The percentage text for the current position, as painted.
    QString PercentText() const;

    // The off-screen image of the last paint, in control coordinates up to the inner
    // rectangle's right and bottom; only its inner rectangle reaches the screen.
    const QImage& Bitmap() const { return FBitmap; }

    QSize sizeHint() const override { return {150, 16}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void CalcColorComponents();
    QRect InnerRect() const;
    void PaintBevel(QPainter& painter);
    void PaintBitmap(int filled);
    void PaintVerticalText(QPainter& painter, const QString& text, const QRect& inner);
    double FilledLength() const;

    TStyle FStyle = gsHorizontal;
    TBevelStyleExt FBevelStyle = bsLowered;
    TBevelWidth FBevelWidth = 1;
    TColor FStartColor = clBlue;
    TColor FEndColor = clRed;
    double FPosition = 0;
    double FMaxValue = 100;
    double FStep = 1;
    bool FShowPercent = true;
    TColor FBackColor = clBtnFace;
    TColor FFontColor = clWhite;

    int FStartR = 0, FStartG = 0, FStartB = 0;
    int FDeltaR = 0, FDeltaG = 0, FDeltaB = 0;

    QImage FBitmap;
    QStringList FTrueTypeFonts;
};

// Rounds to the nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
long long RoundHalfEven(double value);

// The contrast ratio of two colours by their relative luminance: 1 for equal colours, 21 for
// black against white.
double ContrastRatio(const QColor& a, const QColor& b);
