// The commands on the track list: ticking, renaming, the clipboard, the album information file,
// the extraction jobs, the options and closing.
#include "ui/uMain.h"

#include "app/CoderSettings.h"
#include "app/Exception.h"
#include "app/Options.h"
#include "app/globals.h"
#include "cd/CDRIP.h"
#include "mp3/LameCoder.h"
#include "platform/shell/MessageBox.h"
#include "ui/uprg.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

const QString NoTracksSelected = QStringLiteral("No Tracks Selected");
const QString TracksSelected = QStringLiteral(" Tracks Selected");
const QString CopiedToClipboard =
    QStringLiteral("Successfully copy the Track Information to the Clipboard!");
const QString NoAudioTrackSelected = QStringLiteral("No Audio Track Selected!");
// How often a close asked for from outside looks again whether the modal windows have gone.
constexpr int CloseRetryInterval = 50;

// Whether two records would write the same settings file (ConfirmReplace is never stored).
bool SameStoredSettings(const TMP3Settings& a, const TMP3Settings& b)
{
    const auto flag = [](int32_t value) { return value != 0; };
    return a.OutDir == b.OutDir && a.OpenWhenDone == b.OpenWhenDone &&
           a.SampleRates == b.SampleRates && a.BitRates == b.BitRates &&
           a.MaxBitRates == b.MaxBitRates && a.Mode == b.Mode && a.Quality == b.Quality &&
           flag(a.EnableVBR) == flag(b.EnableVBR) &&
           flag(a.WriteVBRHeader) == flag(b.WriteVBRHeader) && a.VBRQuality == b.VBRQuality &&
           flag(a.CopyRight) == flag(b.CopyRight) && flag(a.Original) == flag(b.Original) &&
           flag(a.CRC) == flag(b.CRC) && flag(a.bPrivate) == flag(b.bPrivate);
}

// Both extraction commands: data rows cannot be extracted and lose their tick, then the ticked
// audio rows go to one modal job. The poll stays off while the job runs, so it never reloads
// the disc or moves the player under the job's feet.
void RunExtraction(TfrmMain& window, bool toWAV)
{
    // While a disc is being read there is nothing to extract yet.
    if (!window.DriveFree())
        return;
    TListView* list = window.ListView1;
    const int rows = list->RowCount();
    int ticked = 0;
    for (int i = 0; i < rows; ++i) {
        TTrackRow* row = list->Row(i);
        if (!window.RIPPER->IsAudioTrack(i))
            row->SetChecked(false);
        ticked += row->Checked() ? 1 : 0;
    }
    if (ticked == 0) {
        TMessageBoxRequest box;
        box.Owner = &window;
        box.Kind = TMsgDlgType::mtWarning;
        box.Caption = QStringLiteral("Warning");
        box.Text = NoAudioTrackSelected;
        box.Buttons = {TMsgDlgBtn::mbOK};
        MessageBoxes().Show(box);
        return;
    }

    // The player and the rip would fight over the drive (seeking, drop-outs, a stop that waits
    // on a stuck read): the job has the drive to itself, and the player stays stopped after it.
    if (window.PlayActive() || window.RIPPER->IsPlaying())
        window.btnStopClick();

    window.Timer1->stop();
    {
        // The poll comes back however the job ends.
        struct TRestartPoll
        {
            QTimer* Timer;
            ~TRestartPoll() { Timer->start(); }
        } restart{window.Timer1};
        const std::unique_ptr<Tfrmprg> job = std::make_unique<Tfrmprg>(&window);
        job->ToWAV = toWAV;
        job->exec();
    }
}

} // namespace

void TfrmMain::chkSelAllClick(QObject*)
{
    const Qt::CheckState state = chkSelAll->checkState();
    if (state == Qt::PartiallyChecked)
        return;
    const bool checked = state == Qt::Checked;
    const int rows = ListView1->RowCount();
    const TTickBatch batch(*this);
    for (int i = 0; i < rows; ++i)
        ListView1->Row(i)->SetChecked(checked);
    lblStatus->setText(checked ? QString::number(rows) + TracksSelected : NoTracksSelected);
}

void TfrmMain::SelectAll1Click(QObject*)
{
    const TTickBatch batch(*this);
    const int rows = ListView1->RowCount();
    for (int i = 0; i < rows; ++i)
        ListView1->Row(i)->SetChecked(true);
    SetSelAllState(Qt::Checked);
}

void TfrmMain::InvertSelection1Click(QObject*)
{
    const TTickBatch batch(*this);
    const int rows = ListView1->RowCount();
    bool anyTicked = false;
    for (int i = 0; i < rows; ++i) {
        TTrackRow* row = ListView1->Row(i);
        row->SetChecked(!row->Checked());
        anyTicked = anyTicked || row->Checked();
    }
    if (!anyTicked)
        SetSelAllState(Qt::Unchecked);
}

void TfrmMain::imgSelAllClick(QObject*)
{
    SetSelAllState(chkSelAll->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    chkSelAllClick();
}

void TfrmMain::RenameTrack1Click(QObject*)
{
    const int selected = ListView1->SelectedIndex();
    if (selected >= 0)
        ListView1->EditCaption(selected);
}

void TfrmMain::CopyTrackInformationToClipboard1Click(QObject*)
{
    try {
        QString text;
        const int rows = ListView1->RowCount();
        for (int i = 0; i < rows; ++i) {
            const TTrackRow* row = ListView1->Row(i);
            text += QStringLiteral("\r\n") + row->SubItem(TTrackRow::siNumber) + QLatin1Char('\t') +
                    row->Caption() + QLatin1Char('\t') + row->SubItem(TTrackRow::siDuration);
        }
        QGuiApplication::clipboard()->setText(text);

        TMessageBoxRequest box;
        box.Owner = this;
        box.Kind = TMsgDlgType::mtInformation;
        box.Caption = QStringLiteral("Information");
        box.Text = CopiedToClipboard;
        box.Buttons = {TMsgDlgBtn::mbOK};
        MessageBoxes().Show(box);
    } catch (...) {
        // Copying is a convenience; a clipboard that refuses is not worth a report.
    }
}

void TfrmMain::mnuReadCDiniClick(QObject*)
{
    FAlbumTitles.clear();
    if (cboDrive->currentIndex() < 0)
        return;
    const QString discId = RIPPER->GetDiscID();
    QString artist, title, year, genre;
    QStringList names;
    if (!ReadAlbumInfo(discId, artist, title, year, genre, names))
        return;
    FAlbumTitles = names;
    const int rows = ListView1->RowCount();
    for (int i = 0; i < names.size() && i < rows; ++i)
        ListView1->Row(i)->SetCaption(names.at(i));
}

void TfrmMain::SaveCDInformation1Click(QObject*)
{
    if (cboDrive->currentIndex() < 0)
        return;
    QStringList names;
    const int rows = ListView1->RowCount();
    for (int i = 0; i < rows; ++i)
        names.append(ListView1->Row(i)->Caption());
    const QString discId = RIPPER->GetDiscID();
    // The titles are ours to write; the album's artist, name, year and genre, which the user
    // or another program may have stored, go back as they were.
    QString artist, album, year, genre;
    ReadStoredAlbumInfo(discId, artist, album, year, genre);
    QString failure;
    if (!WriteAlbumInfo(discId, artist, album, year, genre, &names, &failure))
        ApplicationHandleException(this, Exception(failure));
}

void TfrmMain::ExtractTracksToWAVFiles1Click(QObject*)
{
    RunExtraction(*this, true);
}

void TfrmMain::ExtractTracksToMP3Files1Click(QObject*)
{
    RunExtraction(*this, false);
}

void TfrmMain::RIPPERProgress(QObject*, uint16_t PercentComplete)
{
    FRipProgress = int32_t(PercentComplete);
}

void TfrmMain::SetLameCoder()
{
    ApplyMP3Settings(*LameCoder1);
}

void TfrmMain::Options1Click(QObject*)
{
    // Owned by this window, so it stays above it, shares its task-bar entry and opens centred
    // over it; the encoder takes the settings only when confirmed.
    const std::unique_ptr<TfrmOptions> dialog = std::make_unique<TfrmOptions>(this);
    if (dialog->exec() == mrOk)
        SetLameCoder();
}

void TfrmMain::Exit1Click(QObject*)
{
    close();
}

void TfrmMain::RequestClose()
{
    FCloseRequested = true;
    if (QWidget* popup = QApplication::activePopupWidget())
        popup->close();
    // The job window's close cancels its job and the question it may be asking is answered as
    // Escape answers it (the file is kept); whatever is modal goes first, and the window closes
    // once its own loop runs again.
    if (QWidget* modal = QApplication::activeModalWidget()) {
        modal->close();
        QTimer::singleShot(CloseRetryInterval, this, [this] { RequestClose(); });
        return;
    }
    close();
    // Nothing else of the program may keep it running.
    QCoreApplication::quit();
}

void TfrmMain::FormClose(QObject*)
{
    try {
        // A disc still being read keeps the library: nothing plays then.
        if (DriveFree(0) && RIPPER->IsPlaying())
            RIPPER->StopPlay();
    } catch (...) {
        // A player that will not stop must not keep the settings from being saved.
    }
    try {
        SaveSettings();
    } catch (const std::exception& e) {
        // Closing always succeeds, but the user learns that this run's settings are lost.
        if (FUnwrittenSettings && SameStoredSettings(*FUnwrittenSettings, Settings))
            return;
        if (isVisible() && !FCloseRequested)
            ApplicationHandleException(this, e);
        else
            std::fprintf(stderr, "tarvik: %s\n", ExceptionMessage(e).toLocal8Bit().constData());
    }
}
