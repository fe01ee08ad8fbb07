#include "ui/uMain.h"

#include "app/DiscTitles.h"
#include "app/OutputFiles.h"
#include "app/globals.h"
#include "cd/CDRIP.h"
#include "mp3/LameCoder.h"
#include "mp3/MP3Info.h"
#include "platform/DataFiles.h"
#include "platform/cdrip/DriveWatch.h"
#include "platform/shell/MessageBox.h"
#include "ui/uprg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QStatusTipEvent>
#include <QStyledItemDelegate>
#include <QTimer>
#include <algorithm>
#include <cstdio>

TfrmMain* frmMain = nullptr;

namespace {

const QString ApplicationTitle = QStringLiteral("Tarvik 2.3");
const QString DesignCaption = QStringLiteral("Tarvik");
const QString NoTracksSelectedFresh = QStringLiteral("No Tracks Selected.");
const QString NoTracksSelected = QStringLiteral("No Tracks Selected");
const QString TracksSelected = QStringLiteral(" Tracks Selected");
const QString StatusNotDone = QStringLiteral("--");
const QString SelAllHint = QStringLiteral("Select or Unselect all tracks");
const QString ReadingDisc = QStringLiteral("Reading disc...");

// Only the title column gets an editor; the others' items are editable too (one set of flags
// per item), so this delegate is what keeps them read-only.
class TNoEditorDelegate final : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget* createEditor(QWidget*, const QStyleOptionViewItem&, const QModelIndex&) const override
    {
        return nullptr;
    }
};

// The list images drawn in code, for when the pictures are not installed.
QPixmap DrawListImage(int index)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    switch (index) {
    case imgAudioTrack: {
        // A disc with its hole.
        QRadialGradient g(QPointF(6, 6), 9);
        g.setColorAt(0, QColor(235, 240, 250));
        g.setColorAt(1, QColor(150, 165, 195));
        p.setPen(QPen(QColor(70, 85, 120), 1));
        p.setBrush(g);
        p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(6, 6, 4, 4));
        break;
    }
    case imgDataTrack: {
        // A page with a folded corner.
        QPainterPath page;
        page.moveTo(3.5, 1.5);
        page.lineTo(10, 1.5);
        page.lineTo(13.5, 5);
        page.lineTo(13.5, 14.5);
        page.lineTo(3.5, 14.5);
        page.closeSubpath();
        p.setPen(QPen(QColor(90, 90, 90), 1));
        p.setBrush(QColor(250, 250, 245));
        p.drawPath(page);
        p.drawLine(QPointF(10, 1.5), QPointF(10, 5));
        p.drawLine(QPointF(10, 5), QPointF(13.5, 5));
        p.setPen(QPen(QColor(120, 140, 180), 1));
        for (int y = 7; y <= 12; y += 2)
            p.drawLine(QPointF(5.5, y + 0.5), QPointF(11.5, y + 0.5));
        break;
    }
    default: {
        // A green play triangle.
        QPainterPath tri;
        tri.moveTo(4, 2);
        tri.lineTo(14, 8);
        tri.lineTo(4, 14);
        tri.closeSubpath();
        p.setPen(QPen(QColor(20, 110, 40), 1));
        p.setBrush(QColor(60, 190, 80));
        p.drawPath(tri);
        break;
    }
    }
    return pixmap;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TTrackRow

TTrackRow::TTrackRow()
{
    setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsUserCheckable |
             Qt::ItemIsEditable | Qt::ItemNeverHasChildren);
    setCheckState(0, Qt::Unchecked);
}

QString TTrackRow::SubItem(int index) const
{
    if (index == siTocIndex)
        return QTreeWidgetItem::data(0, TocIndexRole).toString();
    if (index < 0 || index >= SubItemCount)
        return {};
    return text(index + 1);
}

void TTrackRow::SetSubItem(int index, const QString& text)
{
    if (index == siTocIndex)
        setData(0, TocIndexRole, text);
    else if (index >= 0 && index < SubItemCount)
        setText(index + 1, text);
}

void TTrackRow::SetImageIndex(int index)
{
    if (index == FImageIndex)
        return;
    FImageIndex = index;
    emitDataChanged();
}

int TTrackRow::TocIndex() const
{
    bool ok = false;
    const int index = SubItem(siTocIndex).toInt(&ok);
    return ok ? index : -1;
}

QVariant TTrackRow::data(int column, int role) const
{
    if (column == 0 && role == Qt::DecorationRole) {
        if (const auto* list = qobject_cast<const TListView*>(treeWidget())) {
            const QPixmap image = list->SmallImage(FImageIndex);
            if (!image.isNull())
                return image;
        }
        return {};
    }
    return QTreeWidgetItem::data(column, role);
}

// ---------------------------------------------------------------------------------------------
// TListView

TListView::TListView(QWidget* parent) : QTreeWidget(parent)
{
    setHeaderLabels({QStringLiteral("Title"), QStringLiteral("No."), QStringLiteral("Duration"),
                     QStringLiteral("Status")});
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    header()->setSectionsClickable(false);
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    setIconSize(QSize(16, 16));
    for (int column = 1; column < columnCount(); ++column)
        setItemDelegateForColumn(column, new TNoEditorDelegate(this));
    setMouseTracking(true);
    viewport()->setMouseTracking(true);

    // The selected row stays highlighted when the list loses the focus.
    QPalette pal = palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight,
                 pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(pal);
}

void TListView::SetSmallImages(const QList<QPixmap>& images)
{
    FSmallImages = images;
    viewport()->update();
}

QPixmap TListView::SmallImage(int index) const
{
    return index >= 0 && index < FSmallImages.size() ? FSmallImages.at(index) : QPixmap();
}

TTrackRow* TListView::Row(int index) const
{
    if (index < 0 || index >= topLevelItemCount())
        return nullptr;
    return static_cast<TTrackRow*>(topLevelItem(index));
}

TTrackRow* TListView::AddRow()
{
    auto* row = new TTrackRow;
    addTopLevelItem(row);
    return row;
}

void TListView::ClearRows()
{
    clear();
}

int TListView::SelectedIndex() const
{
    const QModelIndexList rows = selectionModel()->selectedRows();
    if (rows.isEmpty())
        return -1;
    int first = rows.first().row();
    for (const QModelIndex& index : rows)
        first = qMin(first, index.row());
    return first;
}

int TListView::SelCount() const
{
    return int(selectionModel()->selectedRows().size());
}

void TListView::SelectRow(int index)
{
    // One selected row at most, as in any single-selection list.
    if (TTrackRow* row = Row(index))
        selectionModel()->select(indexFromItem(row),
                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void TListView::DeselectAll()
{
    clearSelection();
}

void TListView::FocusRow(int index)
{
    if (TTrackRow* row = Row(index))
        selectionModel()->setCurrentIndex(indexFromItem(row), QItemSelectionModel::NoUpdate);
}

void TListView::MakeRowVisible(int index)
{
    if (TTrackRow* row = Row(index))
        scrollToItem(row, QAbstractItemView::EnsureVisible);
}

void TListView::EditCaption(int index)
{
    if (TTrackRow* row = Row(index)) {
        scrollToItem(row);
        editItem(row, 0);
    }
}

void TListView::mouseReleaseEvent(QMouseEvent* event)
{
    QTreeWidget::mouseReleaseEvent(event);
    if (OnClick)
        OnClick();
}

void TListView::mouseMoveEvent(QMouseEvent* event)
{
    QTreeWidget::mouseMoveEvent(event);
    if (OnMouseMove) {
        const QPoint pos = event->position().toPoint();
        OnMouseMove(event->modifiers(), pos.x(), pos.y());
    }
}

// ---------------------------------------------------------------------------------------------
// TSelAllCheckBox

void TSelAllCheckBox::nextCheckState()
{
    setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

// ---------------------------------------------------------------------------------------------
// TImage

void TImage::mousePressEvent(QMouseEvent* event)
{
    QLabel::mousePressEvent(event);
    if (OnMouseDown) {
        const QPoint pos = event->position().toPoint();
        OnMouseDown(event->button(), event->modifiers(), pos.x(), pos.y());
    }
}

void TImage::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    const QPoint pos = event->position().toPoint();
    if (OnMouseUp)
        OnMouseUp(event->button(), event->modifiers(), pos.x(), pos.y());
    if (event->button() == Qt::LeftButton && rect().contains(pos) && OnClick)
        OnClick();
}

void TImage::leaveEvent(QEvent* event)
{
    QLabel::leaveEvent(event);
    if (OnMouseLeave)
        OnMouseLeave();
}

void TImage::mouseMoveEvent(QMouseEvent* event)
{
    QLabel::mouseMoveEvent(event);
    if (OnMouseMove) {
        const QPoint pos = event->position().toPoint();
        OnMouseMove(event->modifiers(), pos.x(), pos.y());
    }
}

// ---------------------------------------------------------------------------------------------
// TfrmMain: construction

TfrmMain::TfrmMain(cdrip::ICDRipLibrary* ripLibrary, lameenc::ILameEncLibrary* encLibrary,
                   QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
{
    frmMain = this;
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(DesignCaption);
    setFixedSize(ClientWidth, ClientHeight);
    QFont arial(QStringLiteral("Arial"));
    arial.setPixelSize(12);
    setFont(arial);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Base));
    setPalette(pal);

    // Components first, as the stored window creates them, then their stored settings.
    LameCoder1 = new TLameCoder(this, encLibrary);
    LameCoder1->setObjectName(QStringLiteral("LameCoder1"));
    // The drives are listed and the disc is read off this thread, once the window is made.
    RIPPER = new TCDRIP(this, ripLibrary, TCDRIP::TStart::Deferred);
    RIPPER->setObjectName(QStringLiteral("RIPPER"));
    MP3Info1 = new TMP3Info(this);
    MP3Info1->setObjectName(QStringLiteral("MP3Info1"));
    CreateComponents();

    CreateFrame();
    CreateControls();
    CreatePopupMenu();
    LoadImageList();
    CreateStandInButtons();
    CreateShortcuts();
    WatchHoverExits();

    FormCreate();
}

TfrmMain::~TfrmMain()
{
    // The timer must not tick into a half-destroyed window, nor the hooks on its controls
    // reach controls already gone, nor a disc read come back to it.
    Timer1->stop();
    FDestroying = true;
    FDrive.reset();
    if (frmMain == this) {
        frmMain = nullptr;
        // The report it installed must not outlive it.
        ApplicationOnException = nullptr;
    }
}

void TfrmMain::CreateComponents()
{
    RIPPER->SetCoder(LameCoder1);
    RIPPER->DriveTable.DriveType = GENERIC;
    RIPPER->DriveTable.ReadMethod = READMMC;
    RIPPER->DriveTable.SetSpeed = SPEEDNONE;
    RIPPER->DriveTable.Endian = BIGENDIAN;
    RIPPER->DriveTable.EnableMode = ENABLENONE;
    RIPPER->DriveTable.Density = 16777216;
    RIPPER->DriveTable.Atapi = true;
    RIPPER->WriteWAV = true;
    RIPPER->Speed = 32;
    RIPPER->OnProgress = [this](QObject* sender, uint16_t percent) {
        RIPPERProgress(sender, percent);
    };

    LameCoder1->SetDefaultExt(QStringLiteral(".mp3"));
    MP3Info1->SetGenreID(12);

    FDrive = std::make_unique<TDriveThread>();
    FDriveWatch = new TDriveWatch(QStringLiteral("/dev"), this);
    FDriveWatch->OnChange = [this] { DriveListChanged(FDriveWatch); };

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(Timer1); });
    Timer1->start();
}

void TfrmMain::CreateControls()
{
    ListView1 = new TListView(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setGeometry(134, 145, 478, 277);
    ListView1->setColumnWidth(0, 200);
    ListView1->setColumnWidth(1, 50);
    ListView1->setColumnWidth(2, 100);
    ListView1->setColumnWidth(3, 100);
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    ListView1->OnClick = [this] { ListView1Click(ListView1); };
    connect(ListView1, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem*, int column) {
        if (column == 0)
            TicksChanged();
    });
    ListView1->OnMouseMove = [this](Qt::KeyboardModifiers shift, int x, int y) {
        ListView1MouseMove(ListView1, shift, x, y);
    };

    cboDrive = new QComboBox(this);
    cboDrive->setObjectName(QStringLiteral("cboDrive"));
    cboDrive->setEditable(false);
    cboDrive->setGeometry(135, 118, 217, 23);
    // Only a pick by the user reloads; filling and selecting from code does not.
    connect(cboDrive, &QComboBox::activated, this, [this] { cboDriveClick(cboDrive); });

    chkSelAll = new TSelAllCheckBox(this);
    chkSelAll->setObjectName(QStringLiteral("chkSelAll"));
    chkSelAll->setTristate(true);
    chkSelAll->setGeometry(544, 123, 12, 13);
    chkSelAll->setStatusTip(SelAllHint);
    chkSelAll->setToolTip(SelAllHint);
    // Any change of state, by a click or from code, runs the select-all rule; the same state
    // set again runs nothing.
    connect(chkSelAll, &QCheckBox::stateChanged, this, [this] { chkSelAllClick(chkSelAll); });

    lblStatus = new QLabel(this);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->move(20, 72);
    lblStatus->resize(560, 16);
    QFont labelFont(QStringLiteral("Arial"));
    labelFont.setPixelSize(12);
    lblStatus->setFont(labelFont);
    QPalette labelPalette = lblStatus->palette();
    labelPalette.setColor(QPalette::WindowText, QColor(0, 0, 128));
    lblStatus->setPalette(labelPalette);
    lblStatus->setAttribute(Qt::WA_TranslucentBackground);
    // The status line is part of the face the window is dragged by.
    lblStatus->setAttribute(Qt::WA_TransparentForMouseEvents);
    lblStatus->setText(QString(10, QLatin1Char(' ')));

    // Tab order: the list, the drive list, the select-all box.
    setTabOrder(ListView1, cboDrive);
    setTabOrder(cboDrive, chkSelAll);
}

void TfrmMain::CreatePopupMenu()
{
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    const auto add = [this](const char* name, const QString& caption, const QString& hint,
                            void (TfrmMain::*handler)(QObject*)) {
        QAction* action = PopupMenu1->addAction(caption);
        action->setObjectName(QLatin1String(name));
        action->setStatusTip(hint);
        connect(action, &QAction::triggered, this,
                [this, handler, action] { (this->*handler)(action); });
        return action;
    };
    SelectAll1 = add("SelectAll1", QStringLiteral("Select &All"),
                     QStringLiteral("Select all tracks"), &TfrmMain::SelectAll1Click);
    InvertSelection1 =
        add("InvertSelection1", QStringLiteral("&Invert Selection"),
            QStringLiteral("Reverse the selection"), &TfrmMain::InvertSelection1Click);
    N1 = PopupMenu1->addSeparator();
    N1->setObjectName(QStringLiteral("N1"));
    RenameTrack1 = add("RenameTrack1", QStringLiteral("&Rename Track"),
                       QStringLiteral("Rename selected track"), &TfrmMain::RenameTrack1Click);
    CopyTrackInformationToClipboard1 = add("CopyTrackInformationToClipboard1",
                                           QStringLiteral("C&opy Track Information To Clipboard"),
                                           QStringLiteral("Copy track information to clipboard"),
                                           &TfrmMain::CopyTrackInformationToClipboard1Click);
    N2 = PopupMenu1->addSeparator();
    N2->setObjectName(QStringLiteral("N2"));
    ReadCDInformation1 = add("ReadCDInformation1", QStringLiteral("&Read CD Information"),
                             QStringLiteral("Get alubm information from CDPlayer.ini file"),
                             &TfrmMain::mnuReadCDiniClick);
    SaveCDInformation1 = add("SaveCDInformation1", QStringLiteral("&Save CD Information"),
                             QStringLiteral("Save alubm information to CDPlayer.ini file"),
                             &TfrmMain::SaveCDInformation1Click);

    // A popup menu is a window of its own, so its items' status tips never reach this window
    // as events: show them from the menu's highlight.
    connect(PopupMenu1, &QMenu::hovered, this, [this](QAction* action) {
        FHint = action->statusTip();
        DisplayHint(PopupMenu1);
    });
    // A closed menu's item is under no pointer.
    connect(PopupMenu1, &QMenu::aboutToHide, this, [this] { ClearHint(); });
    connect(ListView1, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        PopupMenu1->popup(ListView1->viewport()->mapToGlobal(pos));
    });
}

void TfrmMain::LoadImageList()
{
    static const char* const files[] = {"icons/audio.png", "icons/data.png", "icons/playing.png"};
    ImageList1.clear();
    for (int i = 0; i < 3; ++i) {
        QPixmap image;
        const QString path = FindDataFile(QLatin1String(files[i]));
        if (!path.isEmpty())
            image.load(path);
        if (image.isNull())
            image = DrawListImage(i);
        else if (image.size() != QSize(16, 16))
            image = image.scaled(16, 16, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        ImageList1.append(image);
    }
    ListView1->SetSmallImages(ImageList1);
}

bool TfrmMain::IsAudioRow(int index) const
{
    // The rows mirror the ripper's table of contents; a row the table no longer has (it changed
    // under the list) counts as data, so nothing is played from it.
    return index >= 0 && index < int(RIPPER->Tracks.size()) && RIPPER->IsAudioTrack(index);
}

void TfrmMain::SetSelAllState(Qt::CheckState state)
{
    chkSelAll->setCheckState(state);
}

int TfrmMain::TickedCount() const
{
    int ticked = 0;
    for (int i = 0; i < ListView1->RowCount(); ++i)
        ticked += ListView1->Row(i)->Checked() ? 1 : 0;
    return ticked;
}

void TfrmMain::TicksChanged()
{
    // Titles and images change rows too; only a different count is news.
    if (FDestroying || FTickBatch > 0 || TickedCount() == FTickedCount)
        return;
    ShowTickCount();
}

void TfrmMain::ShowTickCount()
{
    const TTickBatch batch(*this);
    const int rows = ListView1->RowCount();
    const int ticked = TickedCount();
    FTickedCount = ticked;
    lblStatus->setText(ticked == 0 ? NoTracksSelected : QString::number(ticked) + TracksSelected);
    // The box tells at a glance whether none, some or all rows are ticked.
    SetSelAllState(ticked == 0      ? Qt::Unchecked
                   : ticked == rows ? Qt::Checked
                                    : Qt::PartiallyChecked);
}

// ---------------------------------------------------------------------------------------------
// Window events

void TfrmMain::showEvent(QShowEvent* event)
{
    if (!FPlaced && !event->spontaneous()) {
        FPlaced = true;
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame(QPoint(), size());
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    QWidget::showEvent(event);
    if (!event->spontaneous())
        FormShow(this);
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    // Closing is never refused.
    FormClose(this);
    event->accept();
}

void TfrmMain::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    FormResize(this);
}

bool TfrmMain::event(QEvent* event)
{
    if (event->type() == QEvent::StatusTip) {
        const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
        // Leaving a control with a hint takes its hint away, not a text written after it.
        if (tip.isEmpty())
            ClearHint();
        else if (tip != FHint) {
            FHint = tip;
            DisplayHint(this);
        }
        return true;
    }
    return QWidget::event(event);
}

// ---------------------------------------------------------------------------------------------
// Start-up and the track list

void TfrmMain::FormCreate(QObject*)
{
    QGuiApplication::setApplicationDisplayName(ApplicationTitle);
    // Where the window has a title (the task bar, the window switcher) it shows the
    // application's.
    setWindowTitle(ApplicationTitle);

    ApplicationOnException = [this](QObject* sender, const std::exception& e) {
        HandleProc(sender, e);
    };

    try {
        LoadSettings();
    } catch (const std::exception& e) {
        // Told once; the program goes on with the settings it has, the built-in ones.
        FUnwrittenSettings = Settings;
        ApplicationHandleException(this, e);
    }
    // Files a job was writing when the program was killed or the power went are no tracks.
    SweepOutputFolder(Settings.OutDir);

    SetLameCoder();
    FPlayActive = false;
    FCurrentTrack = -1;
    FPaused = false;
    // The drive list, and the first drive's disc, come from the drive thread; a drive that
    // answers at once is in the list before the window shows.
    TDriveJob job;
    job.Serial = ++FDriveSerial;
    job.Survey = true;
    job.Start = true;
    RunDriveJob(job);
}

void TfrmMain::FormShow(QObject*)
{
    HideHoverImages();
}

void TfrmMain::FormResize(QObject*) {}

void TfrmMain::ListView1CustomDrawItem(QObject*, TTrackRow*, bool& DefaultDraw)
{
    DefaultDraw = true;
}

void TfrmMain::cboDriveClick(QObject*)
{
    // While the drive thread is busy the library is its; the job stops the player instead.
    const bool free = FDrive->Idle();
    if (free && RIPPER->IsPlaying())
        RIPPER->StopPlay();
    FCurrentTrack = -1;
    FPlayActive = false;

    ListView1->ClearRows();
    FTickedCount = 0;
    RIPPER->ClearTracks();
    // A pick, or Eject, tries the drive at once however often its disc failed to read.
    FBackoff.Reset();

    TDriveJob job;
    job.Serial = ++FDriveSerial;
    job.StopPlayer = !free;
    job.Read = TDriveJob::Load;
    job.Drive = cboDrive->currentIndex();
    RunDriveJob(job);
}

void TfrmMain::ShowDisc()
{
    ListView1->ClearRows();
    FTickedCount = 0;
    for (int i = 0; i < int(RIPPER->Tracks.size()); ++i) {
        TTrackRow* row = ListView1->AddRow();
        row->SetCaption(RIPPER->Tracks[size_t(i)].first);
        row->SetSubItem(TTrackRow::siNumber, TwoDigits(uint16_t(i + 1)));
        row->SetSubItem(TTrackRow::siDuration, RIPPER->GetTrackDuration(i));
        row->SetSubItem(TTrackRow::siStatus, StatusNotDone);
        row->SetSubItem(TTrackRow::siTocIndex, QString::number(i));
        row->SetImageIndex(imgAudioTrack);
        if (!RIPPER->IsAudioTrack(i))
            row->SetImageIndex(imgDataTrack);
    }

    lblStatus->setText(ListView1->RowCount() == 0 ? EmptyListStatus() : NoTracksSelectedFresh);
    SetSelAllState(Qt::Unchecked);
    mnuReadCDiniClick();
    ApplyCDTextTitles();
}

QString TfrmMain::EmptyListStatus() const
{
    if (FMediumState == cdrip::CDMEDIUM_BECOMING_READY)
        return ReadingDisc;
    return FDriveProblem.isEmpty() ? NoTracksSelectedFresh : FDriveProblem;
}

void TfrmMain::ShowReadingDisc()
{
    lblStatus->setText(ReadingDisc);
}

bool TfrmMain::ShowsReadingDisc() const
{
    return lblStatus->text() == ReadingDisc;
}

bool TfrmMain::JobRunning() const
{
    return findChild<Tfrmprg*>(QString(), Qt::FindDirectChildrenOnly) != nullptr;
}

bool TfrmMain::DriveFree(int waitMs)
{
    return FDrive && FDrive->WaitIdle(waitMs);
}

void TfrmMain::ApplyCDTextTitles()
{
    const int rows = std::min(ListView1->RowCount(), int(RIPPER->Tracks.size()));
    for (int i = 0; i < rows; ++i) {
        TTrackRow* row = ListView1->Row(i);
        const QString& cdText = RIPPER->Tracks[size_t(i)].second->CDTextTitle;
        if (!cdText.isEmpty())
            row->SetCaption(DiscRowTitle(FAlbumTitles, i, cdText, row->Caption()));
    }
}

void TfrmMain::Timer1Timer(QObject*)
{
    // What the drive thread found since the last tick is taken in first.
    if (FDrive->WaitIdle(0)) {
        TDriveJob job;
        job.Serial = FDriveSerial;
        job.Drive = cboDrive->currentIndex();
        if (FDriveListStale && !FPlayActive && !JobRunning()) {
            DriveListChanged(Timer1);
        } else if (RIPPER->Tracks.empty()) {
            // An empty drive is asked what it holds every tick, which costs nothing; its disc
            // is read when one goes in, and one that did not read is tried again ever later.
            job.Read = TDriveJob::Medium;
            job.ReadDue = FBackoff.Tick();
            RunDriveJob(job);
        } else {
            // A disc swapped with the drive's own button, or taken out, is loaded as if picked
            // anew.
            job.Read = TDriveJob::Changed;
            RunDriveJob(job);
        }
    }

    const int rows = ListView1->RowCount();
    for (int i = 0; i < rows; ++i) {
        TTrackRow* row = ListView1->Row(i);
        if (IsAudioRow(i)) {
            if (row->ImageIndex() != imgAudioTrack) {
                if (i != FCurrentTrack)
                    row->SetImageIndex(imgAudioTrack);
                else if (row->ImageIndex() != imgNowPlaying)
                    row->SetImageIndex(imgNowPlaying);
            }
        } else if (row->ImageIndex() != imgDataTrack) {
            row->SetImageIndex(imgDataTrack);
        }
    }

    // The player's part asks the library: not while the drive thread is reading.
    if (FCurrentTrack < 0 || FCurrentTrack >= rows || !FDrive->Idle())
        return;

    if (RIPPER->IsPlaying()) {
        TTrackRow* current = ListView1->Row(FCurrentTrack);
        if (IsAudioRow(FCurrentTrack) && current->ImageIndex() != imgNowPlaying)
            current->SetImageIndex(imgNowPlaying);
        return;
    }

    if (!FPlayActive || FPaused)
        return;

    // The track has ended: go on with the next audio row, wrapping to the top, so a data track
    // is passed over instead of being tried again every second.
    int next = -1;
    for (int step = 1; step <= rows; ++step) {
        const int candidate = (FCurrentTrack + step) % rows;
        if (IsAudioRow(candidate)) {
            next = candidate;
            break;
        }
    }
    if (next < 0) {
        FPlayActive = false;
        FCurrentTrack = -1;
        return;
    }
    ListView1->DeselectAll();
    ListView1->SelectRow(next);
    ListView1->FocusRow(next);
    ListView1->MakeRowVisible(next);
    btnPlayClick();
}

void TfrmMain::ListView1MouseMove(QObject*, Qt::KeyboardModifiers, int, int)
{
    if (ListView1->Tag == 1)
        return;

    const int rows = ListView1->RowCount();
    int ticked = 0;
    for (int i = 0; i < rows; ++i) {
        if (ListView1->Row(i)->Checked())
            ++ticked;
    }
    lblStatus->setText(ticked == 0 ? NoTracksSelected : QString::number(ticked) + TracksSelected);
    if (ticked > 0 && ticked < rows)
        SetSelAllState(Qt::PartiallyChecked);
    ListView1->Tag = 1;
}

void TfrmMain::ListView1Click(QObject*)
{
    ListView1->Tag = 0;
}

// ---------------------------------------------------------------------------------------------
// The player

void TfrmMain::btnPlayClick(QObject*)
{
    if (ListView1->RowCount() == 0 || !DriveFree())
        return;

    const int selected = ListView1->SelectedIndex();
    if (selected >= 0) {
        if (IsAudioRow(selected)) {
            RIPPER->PlayTrack(selected + 1);
            FCurrentTrack = selected;
            FPaused = false;
        }
    } else if (IsAudioRow(0)) {
        ListView1->SelectRow(0);
        RIPPER->PlayTrack(1);
        FCurrentTrack = 0;
        FPaused = false;
    }
    FPlayActive = true;
}

void TfrmMain::imgPauseClick(QObject*)
{
    if (!DriveFree())
        return;
    FPaused = !FPaused;
    RIPPER->PauseCD(FPaused);
}

void TfrmMain::btnStopClick(QObject*)
{
    FPlayActive = false;
    FCurrentTrack = -1;
    // Nothing plays while a disc is read: the load stopped the player.
    if (DriveFree())
        RIPPER->StopPlay();
}

void TfrmMain::btnForwardClick(QObject*)
{
    const int selected = ListView1->SelectedIndex();
    if (selected < 0 || selected >= ListView1->RowCount() - 1)
        return;
    ListView1->DeselectAll();
    ListView1->SelectRow(selected + 1);
    ListView1->FocusRow(selected + 1);
    btnPlayClick();
}

void TfrmMain::btnBackwardClick(QObject*)
{
    const int selected = ListView1->SelectedIndex();
    if (selected <= 0)
        return;
    ListView1->DeselectAll();
    ListView1->SelectRow(selected - 1);
    ListView1->FocusRow(selected - 1);
    btnPlayClick();
}

namespace {

const QString EjectCaption = QStringLiteral("Eject CD");
// %1: the library's reason, such as a data session of the disc that could not be unmounted.
const QString NotEjected = QStringLiteral("The disc was not ejected: %1.");

} // namespace

void TfrmMain::btnEjectClick(QObject*)
{
    // A disc that stays in is told once, with the reason, so the user can act on it (close the
    // file a program has open on its data session, say); the list is loaded again all the same.
    // The eject runs on the drive thread: the tray takes a second or two to open, unmounting a
    // data session may wait for the desktop to ask for a password, and a drive still spinning a
    // disc up is ejected only once it answers. A refusal is told when it comes.
    TDriveJob job;
    job.Serial = FDriveSerial;
    job.Eject = true;
    RunDriveJob(job);
    cboDriveClick();
}

void TfrmMain::TellNotEjected(const QString& reason)
{
    TMessageBoxRequest box;
    box.Owner = this;
    box.Kind = TMsgDlgType::mtWarning;
    box.Caption = EjectCaption;
    box.Text = NotEjected.arg(reason);
    box.Buttons = {TMsgDlgBtn::mbOK};
    MessageBoxes().Show(box);
}
