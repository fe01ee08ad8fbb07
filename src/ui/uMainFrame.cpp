// The window's face: the background picture, the lit button images over their hot areas,
// dragging by the background, the status-line hints, and the application's error report.
#include "ui/uMain.h"

#include "app/Exception.h"
#include "platform/DataFiles.h"
#include "platform/jpeg/Jpeg.h"
#include "platform/shell/MessageBox.h"
#include "platform/shell/Shell.h"

#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QGuiApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QUrl>
#include <QWindow>

#include <cstdio>
#include <functional>
#include <utility>

TExceptionEvent ApplicationOnException;

namespace {

struct THoverButton
{
    const char* Name;
    QRect Image;
    QString Hint;
    void (TfrmMain::*Click)(QObject*);
    int HotLeft, HotRight, HotTop, HotBottom; // both bounds inside
    QString StandIn;                          // the plain button's caption without pictures
};

const QString HomePageHint =
    QStringLiteral("Welcome! Visit %1 for news and updates").arg(QUrl(HomePageURL).host());

// In the order of TfrmMain::HoverImages(); the last entry is the select-all area, which has no
// lit image of its own.
const THoverButton HoverButtons[] = {
    {"imgToWave",
     {38, 156, 59, 41},
     QStringLiteral("Extract selected track(s) to WAV file(s)"),
     &TfrmMain::ExtractTracksToWAVFiles1Click,
     37,
     93,
     155,
     190,
     QStringLiteral("WAV")},
    {"imgToMP3",
     {36, 210, 52, 40},
     QStringLiteral("Extract selected track(s) to MP3 file(s)"),
     &TfrmMain::ExtractTracksToMP3Files1Click,
     37,
     93,
     211,
     242,
     QStringLiteral("MP3")},
    {"imgOptions",
     {36, 269, 54, 22},
     QStringLiteral("Show options dialog"),
     &TfrmMain::Options1Click,
     37,
     93,
     273,
     283,
     QStringLiteral("Options")},
    {"imgHelp",
     {36, 315, 36, 20},
     QStringLiteral("Open Help"),
     &TfrmMain::HelpWith1Click,
     37,
     93,
     317,
     328,
     QStringLiteral("Help")},
    {"imgExit",
     {35, 359, 36, 20},
     QStringLiteral("Quit application"),
     &TfrmMain::Exit1Click,
     37,
     93,
     362,
     373,
     QStringLiteral("Exit")},
    {"imgVarnel",
     {12, 445, 95, 19},
     HomePageHint,
     &TfrmMain::HomePageOnTheWeb1Click,
     17,
     99,
     449,
     458,
     QStringLiteral("Home page")},
    {"imgMin",
     {585, 21, 18, 20},
     QStringLiteral("Minimize window"),
     &TfrmMain::imgMinClick,
     585,
     596,
     22,
     31,
     QStringLiteral("_")},
    {"imgClose",
     {603, 20, 18, 20},
     QStringLiteral("Quit application"),
     &TfrmMain::Exit1Click,
     605,
     615,
     22,
     31,
     QStringLiteral("x")},
    {"imgBack",
     {169, 435, 29, 23},
     QStringLiteral("Skip to previous track"),
     &TfrmMain::btnBackwardClick,
     172,
     191,
     437,
     449,
     QStringLiteral("|<")},
    {"imgPlay",
     {199, 433, 29, 23},
     QStringLiteral("Play track"),
     &TfrmMain::btnPlayClick,
     206,
     218,
     437,
     449,
     QStringLiteral(">")},
    {"imgPause",
     {229, 434, 29, 23},
     QStringLiteral("Stop playing"),
     &TfrmMain::imgPauseClick,
     231,
     250,
     437,
     449,
     QStringLiteral("||")},
    {"imgStop",
     {258, 434, 29, 23},
     QStringLiteral("Stop playing"),
     &TfrmMain::btnStopClick,
     264,
     277,
     437,
     449,
     QStringLiteral("[]")},
    {"imgForward",
     {285, 434, 29, 23},
     QStringLiteral("Skip to next track"),
     &TfrmMain::btnForwardClick,
     286,
     305,
     437,
     449,
     QStringLiteral(">|")},
    {"imgEject",
     {313, 434, 29, 23},
     QStringLiteral("Eject CD"),
     &TfrmMain::btnEjectClick,
     315,
     328,
     437,
     449,
     QStringLiteral("^")},
    {"imgSelAll",
     {556, 120, 62, 17},
     QStringLiteral("Select or Unselect all tracks"),
     &TfrmMain::imgSelAllClick,
     557,
     612,
     121,
     130,
     QStringLiteral("Select all")},
};
constexpr int HotAreaCount = int(sizeof(HoverButtons) / sizeof(HoverButtons[0]));
static_assert(HotAreaCount == TfrmMain::HoverCount + 1);

const QString ErrorReportCaption = QStringLiteral("Error Report");

QPixmap SkinPicture(const QString& name)
{
    const QString path = FindDataFile(QStringLiteral("skin/%1.jpg").arg(name));
    if (path.isEmpty())
        return {};
    return QPixmap::fromImage(LoadJpegImage(path));
}

} // namespace

void ApplicationHandleException(QObject* sender, const std::exception& e)
{
    if (ApplicationOnException) {
        ApplicationOnException(sender, e);
        return;
    }
    std::fprintf(stderr, "%s\n", ExceptionMessage(e).toLocal8Bit().constData());
}

QString ExceptionMessage(const std::exception& e)
{
    if (const auto* failure = dynamic_cast<const Exception*>(&e))
        return failure->Message();
    return QString::fromUtf8(e.what());
}

// ---------------------------------------------------------------------------------------------

void TfrmMain::CreateFrame()
{
    Image1 = new TImage(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(0, 0, ClientWidth, ClientHeight);
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->setMouseTracking(true);
    Image1->setPixmap(SkinPicture(QStringLiteral("background")));
    Image1->OnMouseMove = [this](Qt::KeyboardModifiers shift, int x, int y) {
        if (FDragging) {
            move(QCursor::pos() - FDragOffset);
            return;
        }
        if (WMNCHitTest(Image1->mapToGlobal(QPoint(x, y))) == HTCLIENT)
            Image1MouseMove(Image1, shift, x, y);
    };
    Image1->OnMouseDown = [this](Qt::MouseButton button, Qt::KeyboardModifiers, int x, int y) {
        Image1MouseDown(button, x, y);
    };
    Image1->OnMouseUp = [this](Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
        Image1MouseUp();
    };

    TImage** const images[] = {&imgToWave, &imgToMP3, &imgOptions, &imgHelp,  &imgExit,
                               &imgVarnel, &imgMin,   &imgClose,   &imgBack,  &imgPlay,
                               &imgPause,  &imgStop,  &imgForward, &imgEject, &imgSelAll};
    for (int i = 0; i < HotAreaCount; ++i) {
        const THoverButton& button = HoverButtons[i];
        auto* image = new TImage(this);
        image->setObjectName(QLatin1String(button.Name));
        image->setGeometry(button.Image);
        image->setCursor(Qt::PointingHandCursor);
        image->setStatusTip(button.Hint);
        image->setMouseTracking(true);
        // A lit picture reaches beyond its hot area, and the stop picture covers the first
        // column of the next button's: the hot area under the pointer alone decides what is lit,
        // what a click runs and where the window is dragged from.
        image->OnMouseMove = [this, image, i](Qt::KeyboardModifiers, int x, int y) {
            if (FDragging) {
                move(QCursor::pos() - FDragOffset);
                return;
            }
            const int area = HotAreaAt(image->mapTo(this, QPoint(x, y)));
            if (area < 0)
                WMNCHitTest(image->mapToGlobal(QPoint(x, y)));
            else if (area != i && area < HoverCount)
                LightHoverImage(area);
        };
        image->OnMouseDown = [this, image, i](Qt::MouseButton button, Qt::KeyboardModifiers, int x,
                                              int y) {
            const QPoint client = image->mapTo(this, QPoint(x, y));
            if (HotAreaAt(client) < 0)
                Image1MouseDown(button, client.x(), client.y());
        };
        const auto click = button.Click;
        image->OnMouseUp = [this, image, i, click](Qt::MouseButton button, Qt::KeyboardModifiers,
                                                   int x, int y) {
            const bool dragged = FDragging;
            Image1MouseUp();
            if (dragged || button != Qt::LeftButton || !image->rect().contains(x, y))
                return;
            if (HotAreaAt(image->mapTo(this, QPoint(x, y))) == i)
                (this->*click)(image);
        };
        // Leaving straight onto a control or off the window puts the light out too.
        image->OnMouseLeave = [this] { WMNCHitTest(QCursor::pos()); };
        if (i < HoverCount) {
            image->setPixmap(SkinPicture(QLatin1String(button.Name)));
            image->hide();
        }
        *images[i] = image;
    }
}

namespace {

// Runs `Action` for the events it watches on the objects it is installed on.
class TEventHook final : public QObject
{
public:
    TEventHook(QObject* parent, QList<QEvent::Type> types, std::function<void()> action)
        : QObject(parent), FTypes(std::move(types)), FAction(std::move(action))
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (FTypes.contains(event->type()))
            FAction();
        return QObject::eventFilter(watched, event);
    }

private:
    QList<QEvent::Type> FTypes;
    std::function<void()> FAction;
};

} // namespace

void TfrmMain::WatchHoverExits()
{
    // A lit picture must not outlive the pointer: it may go from a lit button straight onto a
    // child control (which answers its own moves, so no hit test runs), leave the window
    // between two moves, or be caught by a modal window the click opened.
    auto* exits = new TEventHook(this, {QEvent::Enter}, [this] { PutOutHoverLight(); });
    const QList<QWidget*> controls = {ListView1, ListView1->viewport(), ListView1->header(),
                                      cboDrive, chkSelAll};
    for (QWidget* control : controls)
        control->installEventFilter(exits);
    installEventFilter(new TEventHook(
        this, {QEvent::Leave, QEvent::WindowBlocked, QEvent::WindowDeactivate, QEvent::Hide},
        [this] { PutOutHoverLight(); }));
}

void TfrmMain::CreateStandInButtons()
{
    // Without the face's pictures nothing shows where the buttons are: plain buttons stand in.
    if (!Image1->pixmap().isNull())
        return;
    for (const THoverButton& button : HoverButtons) {
        if (QLatin1String(button.Name) == QLatin1String("imgSelAll"))
            continue;
        auto* standIn = new QPushButton(button.StandIn, this);
        standIn->setObjectName(QLatin1String(button.Name) + QStringLiteral("StandIn"));
        standIn->setGeometry(button.Image);
        standIn->setFocusPolicy(Qt::NoFocus);
        standIn->setStatusTip(button.Hint);
        standIn->setToolTip(button.Hint);
        const auto click = button.Click;
        connect(standIn, &QPushButton::clicked, this,
                [this, click, standIn] { (this->*click)(standIn); });
        FStandInButtons.append(standIn);
    }
    imgSelAll->setText(QStringLiteral("Select all"));
}

QList<TImage*> TfrmMain::HoverImages() const
{
    return {imgToWave, imgToMP3, imgOptions, imgHelp,  imgExit, imgVarnel,  imgMin,
            imgClose,  imgBack,  imgPlay,    imgPause, imgStop, imgForward, imgEject};
}

int TfrmMain::HotAreaAt(const QPoint& clientPoint)
{
    for (int i = 0; i < HotAreaCount; ++i) {
        const THoverButton& b = HoverButtons[i];
        if (clientPoint.x() >= b.HotLeft && clientPoint.x() <= b.HotRight &&
            clientPoint.y() >= b.HotTop && clientPoint.y() <= b.HotBottom)
            return i;
    }
    return -1;
}

void TfrmMain::HideHoverImages()
{
    // Hiding a hidden image repaints nothing.
    for (TImage* image : HoverImages()) {
        if (image->isVisible())
            image->hide();
    }
}

void TfrmMain::PutOutHoverLight()
{
    if (FDestroying)
        return;
    HideHoverImages();
    ClearHint();
}

void TfrmMain::ClearHint()
{
    // The pointer is over nothing with a hint (the background, a control without one, or off
    // the window), whether or not the control it left heard it go. A text written after the
    // hint, such as the tick count, is not the hint's to take away.
    if (FDestroying || FHint.isEmpty())
        return;
    const qsizetype bar = FHint.indexOf(QLatin1Char('|'));
    const bool shown = lblStatus->text() == (bar >= 0 ? FHint.mid(bar + 1) : FHint);
    FHint.clear();
    if (shown)
        DisplayHint(this);
}

int TfrmMain::WMNCHitTest(const QPoint& screenPoint, int defaultCode)
{
    if (HotAreaAt(mapFromGlobal(screenPoint)) >= 0)
        return defaultCode;
    PutOutHoverLight();
    return defaultCode == HTCLIENT ? HTCAPTION : defaultCode;
}

void TfrmMain::Image1MouseMove(QObject*, Qt::KeyboardModifiers, int X, int Y)
{
    ListView1->Tag = 0;
    const int area = HotAreaAt(Image1->mapTo(this, QPoint(X, Y)));
    if (area >= 0 && area < HoverCount)
        LightHoverImage(area);
    else
        HideHoverImages();
}

void TfrmMain::LightHoverImage(int area)
{
    // The old light goes out before the new one comes on, so two are never shown together.
    const QList<TImage*> images = HoverImages();
    for (int i = 0; i < images.size(); ++i) {
        if (i != area && images.at(i)->isVisible())
            images.at(i)->hide();
    }
    TImage* lit = images.at(area);
    if (lit->isVisible())
        return;
    lit->show();
    // The lit picture is what the pointer is over now, whether or not the window system has
    // told it so yet.
    if (lit->statusTip() != FHint) {
        FHint = lit->statusTip();
        DisplayHint(lit);
    }
}

void TfrmMain::Image1MouseDown(Qt::MouseButton button, int x, int y)
{
    if (button != Qt::LeftButton)
        return;
    const QPoint client = Image1->mapTo(this, QPoint(x, y));
    if (HotAreaAt(client) >= 0)
        return;
    // The window manager moves the window where it can; elsewhere (no window manager at all)
    // the window follows the pointer itself.
    if (QWindow* window = windowHandle(); window && window->startSystemMove())
        return;
    FDragging = true;
    FDragOffset = client;
}

void TfrmMain::Image1MouseUp()
{
    FDragging = false;
}

void TfrmMain::DisplayHint(QObject*)
{
    const qsizetype bar = FHint.indexOf(QLatin1Char('|'));
    lblStatus->setText(bar >= 0 ? FHint.mid(bar + 1) : FHint);
}

void TfrmMain::HandleProc(QObject*, const std::exception& E)
{
    const QString crlf = QStringLiteral("\r\n");
    TMessageBoxRequest box;
    box.Owner = QApplication::activeWindow();
    box.Kind = TMsgDlgType::mtError;
    box.Caption = ErrorReportCaption;
    box.Text = QStringLiteral("We are sorry that a problem has encounted:") + crlf +
               QStringLiteral("Please tell me the Error to ") + SupportEMail + QLatin1Char(':') +
               crlf + crlf + ExceptionMessage(E) + crlf + crlf + QStringLiteral("Thank you.");
    box.Buttons = {TMsgDlgBtn::mbOK};
    MessageBoxes().Show(box);
}

void TfrmMain::imgMinClick(QObject*)
{
    showMinimized();
}

void TfrmMain::HelpWith1Click(QObject*)
{
    try {
        ShellOpen(HelpFilePath());
    } catch (...) {
        // A missing manual is not worth a message.
    }
}

void TfrmMain::HomePageOnTheWeb1Click(QObject*)
{
    ShellOpen(HomePageURL);
}
