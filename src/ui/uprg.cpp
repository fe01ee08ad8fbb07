#include "ui/uprg.h"

#include "app/Exception.h"
#include "app/Options.h"
#include "app/OutputFiles.h"
#include "app/globals.h"
#include "cd/CDRIP.h"
#include "controls/GradProgress.h"
#include "mp3/MP3Info.h"
#include "platform/shell/Shell.h"
#include "ui/ButtonDialog.h"
#include "ui/ElidedText.h"
#include "ui/uMain.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>

#include <exception>

namespace {

const QString DesignCaption = QStringLiteral("Extracting...");
const QString WavCaption = QStringLiteral("Extract To WAV files");
const QString Mp3Caption = QStringLiteral("Extract To MP3 files");
const QString Initializing = QStringLiteral("Initializing...");
const QString CancelCaption = QStringLiteral("Cancel");
const QString StatusOK = QStringLiteral("OK");
const QString StatusCancelled = QStringLiteral("Cancelled");
// No file was made: the ripping library refused the track, or the job failed on it.
const QString StatusFailed = QStringLiteral("Failed");
const QString ReplaceQuestion = QStringLiteral(" already exists,do you want to replace it?");
const QString UnknownFailure = QStringLiteral("The extraction stopped on an unknown failure");

} // namespace

Tfrmprg::Tfrmprg(TfrmMain* mainForm, QWidget* parent) : QDialog(parent), FMain(mainForm)
{
    CreateControls();

    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(Timer1); });
    Timer1->start();

    FBarTimer = new QTimer(this);
    FBarTimer->setInterval(BarRefreshInterval);
    connect(FBarTimer, &QTimer::timeout, this, [this] { RefreshBar(); });
}

Tfrmprg::~Tfrmprg() = default;

void Tfrmprg::CreateControls()
{
    setWindowTitle(DesignCaption);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(ClientWidth, ClientHeight);
    setModal(true);

    QFont windowFont(QStringLiteral("Arial"));
    windowFont.setPixelSize(12);
    setFont(windowFont);

    GroupBox1 = new QGroupBox(this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(8, 8, 353, 97);

    lblStatus = new QLabel(GroupBox1);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    // Wide enough for the group box; a long title is cut at its frame, not drawn over it.
    lblStatus->setGeometry(10, 23, 335, 16);
    lblStatus->setTextFormat(Qt::PlainText);

    lblPath = new QLabel(GroupBox1);
    lblPath->setObjectName(QStringLiteral("lblPath"));
    lblPath->setGeometry(10, 52, 335, 45);
    lblPath->setTextFormat(Qt::PlainText);
    lblPath->setWordWrap(true);
    lblPath->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    prgTotalProgress = new TGradProgress(this);
    prgTotalProgress->setObjectName(QStringLiteral("prgTotalProgress"));
    prgTotalProgress->setGeometry(8, 118, 270, 16);
    prgTotalProgress->SetStyle(gsHorizontal);
    prgTotalProgress->SetBevelStyle(bsLowered);
    prgTotalProgress->SetBevelWidth(1);
    prgTotalProgress->SetStartColor(clMenu);
    prgTotalProgress->SetEndColor(clBlue);
    prgTotalProgress->SetBackColor(clMenu);
    prgTotalProgress->SetMaxValue(100);
    prgTotalProgress->SetStep(1);
    prgTotalProgress->SetShowPercent(true);
    prgTotalProgress->ShowDec = true;
    prgTotalProgress->SetFontColor(clWhite);
    QFont barFont = windowFont;
    barFont.setPixelSize(11);
    prgTotalProgress->setFont(barFont);

    btnCancel = new QPushButton(CancelCaption, this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(286, 114, 75, 23);
    btnCancel->setAutoDefault(false);
    connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(btnCancel); });
}

void Tfrmprg::showEvent(QShowEvent* event)
{
    if (!FPlaced) {
        FPlaced = true;
        QRect around;
        if (FMain != nullptr && FMain->isVisible())
            around = FMain->frameGeometry();
        else if (const QScreen* screen = QGuiApplication::primaryScreen())
            around = screen->availableGeometry();
        if (around.isValid())
            move(around.center() - QPoint(width() / 2, height() / 2));
    }
    // Restoring the window from the task bar shows it again, in the middle of its job: the job's
    // state and a Cancel pressed before must survive that.
    if (!event->spontaneous() && !FFormShown) {
        FFormShown = true;
        FormShow(this);
    }
    QDialog::showEvent(event);
}

void Tfrmprg::FormShow(QObject*)
{
    Starting = true;
    // A Cancel pressed between showing and the first tick belongs to this job.
    CancelRequested = false;
    btnCancel->setEnabled(true);
    lblStatus->setText(Initializing);
    lblStatus->setToolTip(QString());
    setWindowTitle(ToWAV ? WavCaption : Mp3Caption);
    prgTotalProgress->SetPosition(0);
    prgTotalProgress->ShowDec = false;
}

void Tfrmprg::ShowRowStatus(const QString& caption, int k, int total)
{
    const QString head = QStringLiteral("Extract ");
    const QString tail = QStringLiteral(" (") + QString::number(k) + QStringLiteral(" of ") +
                         QString::number(total) + QStringLiteral(")...");
    // A long title gives way in its middle, so the count stays in sight.
    const QFontMetrics metrics(lblStatus->font());
    const int room = lblStatus->contentsRect().width() - metrics.horizontalAdvance(head + tail);
    lblStatus->setText(head + metrics.elidedText(caption, Qt::ElideMiddle, qMax(room, 0)) + tail);
    lblStatus->setToolTip(head + caption + tail);
}

void Tfrmprg::ShowOutputPath(const QString& name)
{
    // A long path gives way in its middle, so the file's name and extension stay in sight.
    const QString text = QStringLiteral("To ") + name;
    const QRect room = lblPath->contentsRect();
    const int lines = room.height() / QFontMetrics(lblPath->font()).lineSpacing();
    lblPath->setText(ElideMiddleLines(text, lblPath->font(), room.width(), lines));
    lblPath->setToolTip(text);
}

void Tfrmprg::Timer1Timer(QObject*)
{
    RefreshBar();
    if (!Starting || FRunning)
        return;
    RunJob();
}

void Tfrmprg::RefreshBar()
{
    if (FMain != nullptr)
        prgTotalProgress->SetPosition(FMain->RipProgress());
}

void Tfrmprg::btnCancelClick(QObject*)
{
    CancelRequested = true;
    btnCancel->setEnabled(false);
    if (FMain != nullptr && FMain->RIPPER != nullptr)
        FMain->RIPPER->AbortRip();
    // Before the first tick there is nothing to stop: end the job at once instead of letting
    // the user wait for the timer.
    if (Starting && !FRunning)
        Timer1Timer(this);
}

void Tfrmprg::reject()
{
    if (Starting || FRunning) {
        if (!CancelRequested)
            btnCancelClick(this);
        return;
    }
    QDialog::reject();
}

QString Tfrmprg::GetOutputfilename(int Index) const
{
    const TTrackRow* row = FMain->ListView1->Row(Index);
    const QString folder = OutputFolderProblem(Settings.OutDir).isEmpty()
                               ? OutputFolderPath(Settings.OutDir)
                               : Settings.OutDir;
    return OutputFileName(folder, row != nullptr ? row->Caption() : QString());
}

void Tfrmprg::RunJob()
{
    Starting = false;
    FRunning = true;
    FBarTimer->start();
    Settings.ConfirmReplace = true;

    bool answeredNo = false;
    // The row being worked on; a failure shows on it rather than an earlier job's status.
    int current = -1;
    std::exception_ptr failure;
    try {
        TCDRIP* ripper = FMain->RIPPER;
        TMP3Info* tagger = FMain->MP3Info1;
        const TListView* list = FMain->ListView1;
        ripper->Encode = !ToWAV;
        ripper->ReadOffset = Settings.ReadOffset;
        // A folder that is not a full path is refused before anything is written: it would
        // put the files at the root, or wherever the program happened to be started.
        TOutputFiles files(OutputFolderPath(Settings.OutDir));
        const QString extension = ToWAV ? QStringLiteral(".wav") : QStringLiteral(".mp3");

        int total = 0;
        for (int i = 0; i < list->RowCount(); ++i)
            if (list->Row(i)->Checked())
                ++total;

        int k = 0;
        for (int i = 0; i < list->RowCount() && !CancelRequested; ++i) {
            TTrackRow* row = list->Row(i);
            if (!row->Checked())
                continue;
            ++k;
            current = i;
            const QString caption = row->Caption();
            ShowRowStatus(caption, k, total);
            FLastFolder = files.Folder();

            // A title is a file name: one that would reach another folder fails like any name
            // the file system rejects, before a file is asked about. A file this job wrote
            // is never asked about: a later row of the same title gets a name of its own.
            const QString name = files.NameFor(caption, extension);
            ShowOutputPath(name);

            const int n = StrToInt(row->SubItem(TTrackRow::siTocIndex));

            if (TOutputFiles::Exists(name) && Settings.ConfirmReplace) {
                const int answer = ShowButtonDialog(
                    name + ReplaceQuestion, QApplication::applicationDisplayName(),
                    TMsgDlgType::mtWarning,
                    {QStringLiteral("&Yes"), QStringLiteral("&No"), QStringLiteral("Replace &All")},
                    {TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo, TMsgDlgBtn::mbYesToAll}, this);
                if (answer == mrNo) {
                    answeredNo = true;
                    break;
                }
                if (answer == mrYesToAll)
                    Settings.ConfirmReplace = false;
            }

            // The file is written under a name of its own and takes this one when complete:
            // what was there (a link's target included) is replaced, never written through.
            const bool made = files.Rip(*ripper, n + 1, name, ToWAV ? nullptr : tagger, caption);

            if (CancelRequested)
                row->SetSubItem(TTrackRow::siStatus, StatusCancelled);
            else
                row->SetSubItem(TTrackRow::siStatus, made ? StatusOK : StatusFailed);
            current = -1;
        }
    } catch (...) {
        failure = std::current_exception();
        if (TTrackRow* row = FMain->ListView1->Row(current))
            row->SetSubItem(TTrackRow::siStatus, StatusFailed);
    }

    FinishJob(answeredNo);

    if (failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& e) {
            ApplicationHandleException(this, e);
        } catch (...) {
            ApplicationHandleException(this, Exception(UnknownFailure));
        }
    }
}

void Tfrmprg::FinishJob(bool answeredNo)
{
    FBarTimer->stop();
    FRunning = false;
    FFormShown = false;
    prgTotalProgress->SetPosition(0);
    FMain->SetRipProgress(0);
    if (Settings.OpenWhenDone && !CancelRequested && !answeredNo && !FLastFolder.isEmpty())
        ShellOpen(QFileInfo(FLastFolder).absoluteFilePath());
    done(CancelRequested ? mrCancel : mrOk);
}
