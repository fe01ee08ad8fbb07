#pragma once

#include "app/OutputFiles.h"

#include <QDialog>
#include <QString>

class QGroupBox;
class QLabel;
class QPushButton;
class QTimer;
class TGradProgress;
class TfrmMain;

// The small modal window that runs one extraction job: every ticked row of the main window's
// track list in order, to WAV or MP3 files in the output folder, with the running track's
// progress on the bar and a Cancel button.
//
// The creator sets ToWAV and calls exec(); the job starts with the first tick of Timer1 after
// the window is shown and ends by closing the window with mrOk (1), or mrCancel (2) when the
// user cancelled. A failure during the job closes the window the same way and then goes to the
// application's error report (ApplicationHandleException); exec() itself never throws.
class Tfrmprg : public QDialog
{
    Q_OBJECT
public:
    // `mainForm` supplies the track list, RIPPER, MP3Info1 and RipProgress; it must outlive
    // the window. The window has no owner and is centred on `mainForm` when shown.
    explicit Tfrmprg(TfrmMain* mainForm, QWidget* parent = nullptr);
    ~Tfrmprg() override;

    static constexpr int ClientWidth = 373;
    static constexpr int ClientHeight = 145;
    // How often the bar follows the ripper while a job runs. The job runs inside one tick of
    // Timer1, and a timer never ticks again while its own handler runs, so a second timer
    // keeps the bar moving.
    static constexpr int BarRefreshInterval = 100;

    // --- fields ---
    bool ToWAV = true;            // set before showing: true WAV job, false MP3 job
    bool Starting = false;        // from showing until the first tick takes the job
    bool CancelRequested = false; // the user pressed Cancel during this job

    // --- controls ---
    QGroupBox* GroupBox1 = nullptr;
    QLabel* lblStatus = nullptr;
    QLabel* lblPath = nullptr;
    TGradProgress* prgTotalProgress = nullptr;
    QPushButton* btnCancel = nullptr;
    QTimer* Timer1 = nullptr;

    // --- handlers ---
    void FormShow(QObject* Sender = nullptr);
    // Copies the main window's RipProgress into the bar; the first tick after showing also
    // runs the whole job.
    void Timer1Timer(QObject* Sender = nullptr);
    void btnCancelClick(QObject* Sender = nullptr);

    // The output path of row `Index` (".wav"; an MP3 job changes the extension).
    QString GetOutputfilename(int Index) const;

    // True while the job runs.
    bool Running() const { return FRunning; }

protected:
    void showEvent(QShowEvent* event) override;
    // Escape and the window's close button cancel a job instead of leaving it running unseen.
    void reject() override;

private:
    void CreateControls();
    void RunJob();
    void FinishJob(bool answeredNo);
    void RefreshBar();
    // The status line and the path label for a row; the whole text goes into their tooltips.
    void ShowRowStatus(const QString& caption, int k, int total);
    void ShowOutputPath(const QString& name);

    TfrmMain* FMain = nullptr;
    QTimer* FBarTimer = nullptr;
    bool FRunning = false;
    bool FPlaced = false;
    // FormShow has run for this job.
    bool FFormShown = false;
    // The output folder of the last row the job worked on; opened at the end when asked for.
    QString FLastFolder;
};
