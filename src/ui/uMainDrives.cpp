// The drive's slow work, off the window's thread: the drive list, a disc load, the poll's
// questions to the drive, and what the window makes of their answers.
#include "ui/uMain.h"

#include "cd/CDRIP.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>

namespace {

// The face prints its own caption at the right end of the status line.
constexpr int StatusMargin = 70;

// The status line's short form of the drive entries left out: the first one's file name and
// the gist of its reason, and how many more there are (standard error has them all, in full).
QString DriveProblemStatus(QStringList problems)
{
    static const QRegularExpression entry(QStringLiteral("^(.*: )(.*)( cannot be used: )(.*)$"));
    if (problems.size() > 1 && problems.last().startsWith(QStringLiteral("No drive")))
        problems.removeLast();
    QString text = problems.first();
    const QRegularExpressionMatch m = entry.match(text);
    if (m.hasMatch()) {
        const QString reason = m.captured(4);
        const qsizetype detail = reason.indexOf(QStringLiteral(" ("));
        text = m.captured(1) + QFileInfo(m.captured(2)).fileName() + m.captured(3) +
               (detail > 0 ? reason.left(detail) : reason);
    }
    if (problems.size() > 1)
        text += QStringLiteral(" (and %1 more)").arg(problems.size() - 1);
    return text;
}

// Whether two tables of contents are of the same disc.
bool SameTracks(const TTrackList& a, const TTrackList& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
        return x.second->StartSector == y.second->StartSector &&
               x.second->EndSector == y.second->EndSector &&
               x.second->TrackType == y.second->TrackType;
    });
}

} // namespace

struct TfrmMain::TDriveResult
{
    TDriveJob Job;
    TCDRIP::TDriveSurvey Survey;
    int32_t Drive = -1; // the drive a survey picked
    bool Asked = false; // the drive was asked what it holds
    int32_t Medium = cdrip::CDMEDIUM_UNKNOWN;
    bool MediumChanged = false;
    bool Read = false; // Disc holds what a read found
    TCDRIP::TDiscReading Disc;
    QString EjectRefusal; // why Eject left the disc in
    std::exception_ptr Failure;
    bool Taken = false; // the window has taken it in
};

void TfrmMain::DoDriveJob(cdrip::ICDRipLibrary& library, TDriveResult& r)
{
    const TDriveJob& job = r.Job;
    try {
        if (job.StopPlayer)
            library.CR_StopPlayTrack();
        if (job.Eject && library.CR_EjectCD(-1) == cdrip::CDEX_ERROR) {
            char text[1024];
            if (library.CR_GetLastErrorText(text, sizeof text) != cdrip::CDEX_ERROR)
                r.EjectRefusal = QString::fromUtf8(text);
        }
        int32_t drive = job.Drive;
        bool read = job.Read == TDriveJob::Load;
        if (job.Survey) {
            r.Survey = TCDRIP::SurveyDrives(library);
            const qsizetype kept =
                job.KeepDevice.isEmpty() ? -1 : r.Survey.Devices.indexOf(job.KeepDevice);
            // A drive that went is followed by the first one, as a disc taken out would be.
            r.Drive = r.Survey.Names.isEmpty() ? -1 : int32_t(std::max<qsizetype>(kept, 0));
        } else if (job.Read == TDriveJob::Changed) {
            read = library.CR_DiscChanged() == 1;
        } else if (job.Read == TDriveJob::Medium) {
            int32_t changed = 0;
            r.Medium = library.CR_GetMediumState(&changed);
            r.MediumChanged = changed == 1;
            r.Asked = true;
            // An empty tray is not read at all; a disc that went in is read at once.
            read = r.Medium != cdrip::CDMEDIUM_NONE &&
                   (job.ReadDue || r.MediumChanged || r.Medium != job.LastMedium);
        }
        if (!read)
            return;
        r.Disc = TCDRIP::ReadDisc(library, drive);
        r.Read = true;
        // Whether a disc that gave nothing is still spinning up.
        if (r.Disc.Tracks.empty()) {
            r.Medium = library.CR_GetMediumState(nullptr);
            r.Asked = true;
        }
    } catch (...) {
        r.Failure = std::current_exception();
    }
}

void TfrmMain::RunDriveJob(const TDriveJob& job, bool wait)
{
    auto result = std::make_shared<TDriveResult>();
    result->Job = job;
    result->Job.LastMedium = FMediumState;
    cdrip::ICDRipLibrary* library = &RIPPER->Library();
    // The work holds nothing of the window, so a window closed under a read that blocks leaves
    // it nothing to reach; the result comes back through the drive thread, which the window
    // owns.
    FDrive->Post([library, result] { DoDriveJob(*library, *result); },
                 [this, result] { TakeDriveResult(*result); });
    if (wait && FDrive->WaitIdle(DriveAnswerMs))
        return;
    // The list is made again once the drive answers; a pick from the old one would name
    // another drive.
    if (job.Survey && !result->Taken)
        cboDrive->setEnabled(false);
    if (ListView1->RowCount() == 0)
        ShowReadingDisc();
}

void TfrmMain::TakeDriveResult(TDriveResult& r)
{
    r.Taken = true;
    if (FDestroying)
        return;
    // Told from the event loop, not from inside the drive thread's hand-over.
    if (!r.EjectRefusal.isEmpty())
        QTimer::singleShot(0, this, [this, reason = r.EjectRefusal] { TellNotEjected(reason); });
    const bool current = r.Job.Serial == FDriveSerial;
    if (r.Job.Survey)
        cboDrive->setEnabled(true);
    if (r.Failure) {
        // The window opens whatever the drives do at start-up; later failures are told.
        if (current && !r.Job.Start) {
            try {
                std::rethrow_exception(r.Failure);
            } catch (const std::exception& e) {
                ApplicationHandleException(this, e);
            } catch (...) {
            }
        }
        if (ListView1->RowCount() == 0 && ShowsReadingDisc())
            lblStatus->setText(EmptyListStatus());
        return;
    }

    if (r.Job.Survey) {
        const QString before = FDriveDevices.value(cboDrive->currentIndex());
        const bool tell = TakeDriveList(r) && !FDriveProblem.isEmpty();
        if (tell)
            lblStatus->setText(FDriveProblem);
        if (!current)
            return;
        // The list shows at once; the picked drive's disc is read next (the library let go of
        // it while it made the list).
        TDriveJob load;
        load.Serial = r.Job.Serial;
        load.Read = TDriveJob::Load;
        load.Drive = r.Drive;
        load.KeepRows = !r.Job.Start;
        load.KeepDevice = before;
        load.Start = r.Job.Start;
        load.TellProblems = tell;
        RunDriveJob(load, false);
        return;
    }
    // A newer pick, eject or survey has the last word on the disc.
    if (!current)
        return;

    if (r.Asked) {
        if (r.MediumChanged || r.Medium != r.Job.LastMedium)
            FBackoff.Reset();
        FMediumState = r.Medium;
    }
    if (r.Read) {
        // A drive list made again around the same drive and disc keeps the rows as they are,
        // titles typed and ticks included.
        const bool same = r.Job.KeepRows && !r.Disc.Tracks.empty() &&
                          r.Job.KeepDevice == FDriveDevices.value(r.Job.Drive) &&
                          int(r.Disc.Tracks.size()) == ListView1->RowCount() &&
                          SameTracks(RIPPER->Tracks, r.Disc.Tracks);
        if (!same) {
            if (FDrive->Idle() && RIPPER->IsPlaying())
                RIPPER->StopPlay();
            FCurrentTrack = -1;
            FPlayActive = false;
        }
        RIPPER->TakeDisc(std::move(r.Disc));
        if (RIPPER->Tracks.empty())
            FBackoff.Failed();
        else
            FBackoff.Reset();
        if (!same)
            ShowDisc();
    }
    if (ListView1->RowCount() == 0 && FDrive->Idle() &&
        (ShowsReadingDisc() || (r.Asked && r.Medium != r.Job.LastMedium)))
        lblStatus->setText(EmptyListStatus());
    // What was newly left out of the list is told even beside a disc.
    if (r.Job.TellProblems)
        lblStatus->setText(FDriveProblem);
}

bool TfrmMain::TakeDriveList(TDriveResult& r)
{
    RIPPER->TakeSurvey(r.Survey);
    cboDrive->clear();
    cboDrive->addItems(r.Survey.Names);
    FDriveDevices = r.Survey.Devices;
    cboDrive->setCurrentIndex(r.Drive);

    // Told on standard error once each; the status line shows the list as it is now.
    const QStringList& problems = r.Survey.Problems;
    if (problems == FDriveProblems)
        return false;
    for (const QString& problem : problems)
        if (!FDriveProblems.contains(problem))
            std::fprintf(stderr, "tarvik: %s\n", problem.toLocal8Bit().constData());
    FDriveProblems = problems;
    FDriveProblem =
        problems.isEmpty()
            ? QString()
            : lblStatus->fontMetrics().elidedText(DriveProblemStatus(problems), Qt::ElideRight,
                                                  lblStatus->width() - StatusMargin);
    return true;
}

void TfrmMain::DriveListChanged(QObject*)
{
    if (FDestroying)
        return;
    // Making the list again stops the library's player, and a job has the drive to itself: the
    // list waits until both are done.
    if (JobRunning() || FPlayActive || !FDrive->Idle()) {
        FDriveListStale = true;
        return;
    }
    FDriveListStale = false;
    TDriveJob job;
    job.Serial = ++FDriveSerial;
    job.Survey = true;
    job.KeepDevice = FDriveDevices.value(cboDrive->currentIndex());
    RunDriveJob(job);
}
