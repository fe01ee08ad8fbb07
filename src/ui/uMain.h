#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QList>
#include <QPixmap>
#include <QPoint>
#include <QTreeWidget>
#include <QTreeWidgetItem>
#include <QWidget>

#include "app/globals.h"
#include "cd/CDRipLibrary.h"
#include "cd/DriveThread.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QComboBox;
class QMenu;
class QPushButton;
class QTimer;
class TCDRIP;
class TDriveWatch;
class TLameCoder;
class TMP3Info;

namespace lameenc {
class ILameEncLibrary;
}

// The three small images of the track list, by index.
enum TTrackImage : int
{
    imgAudioTrack = 0,
    imgDataTrack = 1,
    imgNowPlaying = 2
};

// One row of the track list: the title with its check box and image, then the sub-texts
// No., Duration, Status (the three columns after the title) and the table-of-contents index,
// which no column shows.
class TTrackRow : public QTreeWidgetItem
{
public:
    // Sub-text indexes.
    static constexpr int siNumber = 0;
    static constexpr int siDuration = 1;
    static constexpr int siStatus = 2;
    static constexpr int siTocIndex = 3;
    static constexpr int SubItemCount = 4;
    // Where the hidden index is kept.
    static constexpr int TocIndexRole = Qt::UserRole + 1;

    TTrackRow();

    QString Caption() const { return text(0); }
    void SetCaption(const QString& caption) { setText(0, caption); }

    // Sub-text `index` (siNumber .. siTocIndex); empty for any other index.
    QString SubItem(int index) const;
    void SetSubItem(int index, const QString& text);

    bool Checked() const { return checkState(0) == Qt::Checked; }
    void SetChecked(bool checked) { setCheckState(0, checked ? Qt::Checked : Qt::Unchecked); }

    // An index of the list's small images (TTrackImage); shown through the list's image list.
    int ImageIndex() const { return FImageIndex; }
    void SetImageIndex(int index);

    // The hidden table-of-contents index as a number; -1 when the text is not one.
    int TocIndex() const;

    QVariant data(int column, int role) const override;

private:
    int FImageIndex = imgAudioTrack;
};

// The track list: a report view of TTrackRow items with check boxes, small images, a single
// whole-row selection and in-place editing of the title column only.
class TListView : public QTreeWidget
{
    Q_OBJECT
public:
    explicit TListView(QWidget* parent = nullptr);

    // The program's own latch; the window keeps the tick count's freshness in it.
    int Tag = 0;

    // The images rows show by their ImageIndex; an index outside the list shows none.
    void SetSmallImages(const QList<QPixmap>& images);
    QPixmap SmallImage(int index) const;

    int RowCount() const { return topLevelItemCount(); }
    // Row `index`, or nullptr outside 0 .. RowCount() - 1.
    TTrackRow* Row(int index) const;
    // Appends an empty, unticked row.
    TTrackRow* AddRow();
    void ClearRows();

    // The selected row's index, -1 when none; and the number of selected rows.
    int SelectedIndex() const;
    int SelCount() const;
    void SelectRow(int index);
    void DeselectAll();
    // Moves the focus rectangle to the row without changing the selection.
    void FocusRow(int index);
    void MakeRowVisible(int index);
    // Opens the in-place editor on the row's title.
    void EditCaption(int index);

    // Any click in the list, after the list has handled it (a check box click has toggled).
    std::function<void()> OnClick;
    // The pointer moved over the list, in the list's own coordinates.
    std::function<void(Qt::KeyboardModifiers shift, int x, int y)> OnMouseMove;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    // Space without a current row is left to the window (play or pause).
    void keyPressEvent(QKeyEvent* event) override;

private:
    QList<QPixmap> FSmallImages;
};

// The select-all box. Its grayed state is only ever set by the program ("some ticked"); a click
// checks it from unchecked or grayed and unchecks it from checked.
class TSelAllCheckBox : public QCheckBox
{
    Q_OBJECT
public:
    using QCheckBox::QCheckBox;

protected:
    void nextCheckState() override;
};

// A picture on the window's face that can act as a button: the background and the lit hover
// images of the frame.
class TImage : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;

    // A left click released over the picture.
    std::function<void()> OnClick;
    // Positions in the picture's own coordinates.
    std::function<void(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)>
        OnMouseDown;
    std::function<void(Qt::KeyboardModifiers shift, int x, int y)> OnMouseMove;
    std::function<void(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)>
        OnMouseUp;
    std::function<void()> OnMouseLeave;

protected:
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
};

// Reports a failure no handler caught; bound by the main window at start-up. Unbound, failures
// go to the standard error stream.
using TExceptionEvent = std::function<void(QObject* Sender, const std::exception& E)>;
extern TExceptionEvent ApplicationOnException;
// Hands `e` to ApplicationOnException.
void ApplicationHandleException(QObject* sender, const std::exception& e);
// The message of any failure the program raises.
QString ExceptionMessage(const std::exception& e);

// The main window: the drive list, the track list with its one-second poll, the track commands,
// the player and the skinned frame.
class TfrmMain : public QWidget
{
    Q_OBJECT
public:
    // The libraries default to the process's real ones; they must outlive the window.
    explicit TfrmMain(cdrip::ICDRipLibrary* ripLibrary = nullptr,
                      lameenc::ILameEncLibrary* encLibrary = nullptr, QWidget* parent = nullptr);
    ~TfrmMain() override;

    static constexpr int ClientWidth = 638;
    static constexpr int ClientHeight = 480;

    // --- controls ---
    TListView* ListView1 = nullptr;
    QComboBox* cboDrive = nullptr;
    TSelAllCheckBox* chkSelAll = nullptr;
    QLabel* lblStatus = nullptr;

    // The frame's face: the background, the fourteen hover images and the select-all area.
    TImage* Image1 = nullptr;
    TImage* imgToWave = nullptr;
    TImage* imgToMP3 = nullptr;
    TImage* imgOptions = nullptr;
    TImage* imgHelp = nullptr;
    TImage* imgExit = nullptr;
    TImage* imgVarnel = nullptr;
    TImage* imgMin = nullptr;
    TImage* imgClose = nullptr;
    TImage* imgBack = nullptr;
    TImage* imgPlay = nullptr;
    TImage* imgPause = nullptr;
    TImage* imgStop = nullptr;
    TImage* imgForward = nullptr;
    TImage* imgEject = nullptr;
    TImage* imgSelAll = nullptr;

    // --- components ---
    TCDRIP* RIPPER = nullptr;
    TLameCoder* LameCoder1 = nullptr;
    TMP3Info* MP3Info1 = nullptr;
    QTimer* Timer1 = nullptr;
    QList<QPixmap> ImageList1;

    QMenu* PopupMenu1 = nullptr;
    QAction* SelectAll1 = nullptr;
    QAction* InvertSelection1 = nullptr;
    QAction* N1 = nullptr;
    QAction* RenameTrack1 = nullptr;
    QAction* CopyTrackInformationToClipboard1 = nullptr;
    QAction* N2 = nullptr;
    QAction* ReadCDInformation1 = nullptr;
    QAction* SaveCDInformation1 = nullptr;

    // --- state the player keeps and the extraction job reads ---
    bool PlayActive() const { return FPlayActive; }
    int32_t CurrentTrack() const { return FCurrentTrack; }
    bool Paused() const { return FPaused; }
    // The last percentage the ripper reported during an extraction; the job resets it.
    int32_t RipProgress() const { return FRipProgress; }
    void SetRipProgress(int32_t value) { FRipProgress = value; }

    // The hover images in the frame's order, the hot areas (both bounds inside) and their count.
    QList<TImage*> HoverImages() const;
    static constexpr int HoverCount = 14;
    // The hot area at `clientPoint`: 0 .. 13 for the hover images in HoverImages() order, 14 for
    // the select-all area, -1 outside every hot area.
    static int HotAreaAt(const QPoint& clientPoint);

    // Hit codes of the frame's hit test.
    static constexpr int HTCLIENT = 1;
    static constexpr int HTCAPTION = 2;

    // --- handlers: start-up, the drive and track list ---
    void FormCreate(QObject* Sender = nullptr);
    void FormShow(QObject* Sender = nullptr);
    void FormResize(QObject* Sender = nullptr);
    void cboDriveClick(QObject* Sender = nullptr);
    void Timer1Timer(QObject* Sender = nullptr);
    void ListView1MouseMove(QObject* Sender, Qt::KeyboardModifiers Shift, int X, int Y);
    void ListView1Click(QObject* Sender = nullptr);
    void ListView1CustomDrawItem(QObject* Sender, TTrackRow* Item, bool& DefaultDraw);

    // --- handlers: track commands ---
    void chkSelAllClick(QObject* Sender = nullptr);
    void SelectAll1Click(QObject* Sender = nullptr);
    void InvertSelection1Click(QObject* Sender = nullptr);
    void imgSelAllClick(QObject* Sender = nullptr);
    void RenameTrack1Click(QObject* Sender = nullptr);
    void CopyTrackInformationToClipboard1Click(QObject* Sender = nullptr);
    void mnuReadCDiniClick(QObject* Sender = nullptr);
    void SaveCDInformation1Click(QObject* Sender = nullptr);
    void ExtractTracksToWAVFiles1Click(QObject* Sender = nullptr);
    void ExtractTracksToMP3Files1Click(QObject* Sender = nullptr);
    void RIPPERProgress(QObject* Sender, uint16_t PercentComplete);
    void SetLameCoder();
    void Options1Click(QObject* Sender = nullptr);
    void Exit1Click(QObject* Sender = nullptr);
    void FormClose(QObject* Sender = nullptr);
    // Closes the window as its close box does, when asked from outside (a signal to the
    // process): a menu or dialog open over it closes as Escape closes it, a running job is
    // cancelled as its Cancel button does, then the window closes and saves the settings.
    void RequestClose();

    // --- the drive's slow work ---
    // The drives came or went: the drive list is made again off this thread, the drive picked
    // staying picked while it is there. Put off while a job runs or the player is on.
    void DriveListChanged(QObject* Sender = nullptr);
    // True when the drive thread is idle, after waiting up to `waitMs` for it: only then may
    // this thread call the ripping library. A command that needs the drive while a disc is
    // being read is refused without a word.
    bool DriveFree(int waitMs = DriveAnswerMs);
    // How long a disc load, or the poll's question to the drive, is waited for before the
    // window goes on without it ("Reading disc..."): a disc image or a spinning disc answers
    // well within it, so their loads show no such line.
    static constexpr int DriveAnswerMs = 200;

    // --- handlers: the player ---
    void btnPlayClick(QObject* Sender = nullptr);
    void imgPauseClick(QObject* Sender = nullptr);
    void btnStopClick(QObject* Sender = nullptr);
    void btnForwardClick(QObject* Sender = nullptr);
    void btnBackwardClick(QObject* Sender = nullptr);
    void btnEjectClick(QObject* Sender = nullptr);

    // --- handlers: the frame ---
    // The frame's hit test for a point in screen coordinates: HTCLIENT inside a hot area,
    // HTCAPTION (drag the window) everywhere else on the face.
    int WMNCHitTest(const QPoint& screenPoint, int defaultCode = HTCLIENT);
    void Image1MouseMove(QObject* Sender, Qt::KeyboardModifiers Shift, int X, int Y);
    void DisplayHint(QObject* Sender = nullptr);
    void HandleProc(QObject* Sender, const std::exception& E);
    void imgMinClick(QObject* Sender = nullptr);
    void HelpWith1Click(QObject* Sender = nullptr);
    void HomePageOnTheWeb1Click(QObject* Sender = nullptr);

    // --- keys ---
    // Space: pauses or resumes the track being played, else plays as the play button does.
    void PlayOrPause(QObject* Sender = nullptr);
    // The menu key and Shift+F10: the list's context menu at its current row.
    void PopupMenuAtCurrentRow(QObject* Sender = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void CreateControls();
    void CreateComponents();
    void CreatePopupMenu();
    void CreateFrame();
    void CreateStandInButtons();
    void CreateShortcuts();
    void LoadImageList();
    void HideHoverImages();
    // The pointer has left every hot area: the lit picture and its hint go.
    void PutOutHoverLight();
    // Takes the current hint out of the status line when it is what the line shows.
    void ClearHint();
    // Lights the hover image of hot area `area` (0 .. HoverCount - 1), and only that one.
    void LightHoverImage(int area);
    // Puts the light out when the pointer leaves the face for a control or the window.
    void WatchHoverExits();
    void Image1MouseDown(Qt::MouseButton button, int x, int y);
    void Image1MouseUp();
    bool IsAudioRow(int index) const;
    // Sets the select-all box's state; a different state runs the select-all rule.
    void SetSelAllState(Qt::CheckState state);
    // A row changed; when its tick did, the status line's count and the select-all box follow,
    // whatever ticked it: a click, the keyboard, a command.
    void TicksChanged();
    void ShowTickCount();
    int TickedCount() const;
    // Holds the count back while a command ticks many rows, and shows it once at the end.
    struct TTickBatch
    {
        explicit TTickBatch(TfrmMain& window) : Window(window) { ++Window.FTickBatch; }
        ~TTickBatch()
        {
            if (--Window.FTickBatch == 0)
                Window.TicksChanged();
        }
        TTickBatch(const TTickBatch&) = delete;
        TTickBatch& operator=(const TTickBatch&) = delete;
        TfrmMain& Window;
    };
    // Gives the rows the album information file left untitled the disc's CD-Text titles.
    void ApplyCDTextTitles();

    // What the drive thread is asked to do, in this order.
    struct TDriveJob
    {
        enum TRead
        {
            None,
            Load,    // read the disc of Drive
            Changed, // read it again when the library says the disc is another
            Medium   // ask the empty drive what it holds; read when a disc went in, or ReadDue
        };
        int Serial = 0;
        bool StopPlayer = false;
        bool Eject = false;
        // Make the drive list again, then read the disc of the drive KeepDevice, else the first.
        bool Survey = false;
        bool Start = false; // the survey of start-up and its load, whose failures are not told
        // Survey: the drive to keep picked. Load after a survey, with KeepRows: the drive that
        // was picked before; when it is still the one and holds the same disc, the rows stay.
        QString KeepDevice;
        bool KeepRows = false;
        bool TellProblems = false; // the status line tells the drive problems after the load
        TRead Read = None;
        int32_t Drive = -1;
        bool ReadDue = false;
        int32_t LastMedium = cdrip::CDMEDIUM_UNKNOWN;
    };
    struct TDriveResult;
    // On the drive thread: library calls only, nothing of the window.
    static void DoDriveJob(cdrip::ICDRipLibrary& library, TDriveResult& result);
    // Runs `job` on the drive thread, and (with `wait`) takes its result in at once when the
    // drive answers within DriveAnswerMs; else "Reading disc..." shows while the list is empty.
    void RunDriveJob(const TDriveJob& job, bool wait = true);
    void TakeDriveResult(TDriveResult& result);
    // A new drive list into cboDrive; true when the drive problems told changed with it.
    bool TakeDriveList(TDriveResult& result);
    // The rest of a disc load once the disc was read: the rows, the status line, the titles.
    void ShowDisc();
    // The status line of an empty list: a drive still spinning its disc up, or why drives are
    // missing, or the plain count.
    QString EmptyListStatus() const;
    void ShowReadingDisc();
    bool ShowsReadingDisc() const;
    bool JobRunning() const;
    // Eject left the disc in, for `reason`.
    void TellNotEjected(const QString& reason);

    bool FPlayActive = false;
    int32_t FCurrentTrack = -1;
    bool FPaused = false;
    int32_t FRipProgress = 0;
    // The ticked rows the status line and the select-all box were last brought up to.
    int FTickedCount = 0;
    bool FDestroying = false;
    // Closing was asked for from outside; nobody may be there to answer a message.
    bool FCloseRequested = false;
    int FTickBatch = 0;
    // The track titles the last album information read gave, by row.
    QStringList FAlbumTitles;
    // Centred on the desktop the first time it is shown.
    bool FPlaced = false;
    // The application's current hint, shown in the status line.
    QString FHint;
    // Plain buttons over the frame's hot areas while the face's pictures are not installed.
    QList<QPushButton*> FStandInButtons;
    // Moving the window by hand where the window manager cannot be asked to: the pointer's
    // offset from the window's corner while the left button is held on the face.
    bool FDragging = false;
    QPoint FDragOffset;
    // The settings a start could not write, as they were then. That failure was reported;
    // a close that fails to write these same settings again loses nothing and stays quiet.
    std::optional<TMP3Settings> FUnwrittenSettings;
    // Why drives named for the list were left out; it stays in the status line while there is
    // no disc to show.
    QString FDriveProblem;
    // The lines of it told last; a survey tells only lines that are new.
    QStringList FDriveProblems;

    // The drive's slow work: one thread for it, the newest job whose disc may still be shown
    // (a newer pick drops an older load's result), and how soon a disc that did not read is
    // tried again.
    std::unique_ptr<TDriveThread> FDrive;
    int FDriveSerial = 0;
    TReadBackoff FBackoff;
    int32_t FMediumState = cdrip::CDMEDIUM_UNKNOWN; // what the active drive last said of its disc
    // The device of each drive list item, to find the picked drive in a new list.
    QStringList FDriveDevices;
    TDriveWatch* FDriveWatch = nullptr;
    // The drives changed while the list could not be made again; the poll makes it later.
    bool FDriveListStale = false;
};

// The application's main window while it exists.
extern TfrmMain* frmMain;
