#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QWidget;

// The platform's standard message box, reached through one seam so tests can answer the box the
// code is about to show, without a person and without timers hunting for windows.

enum class TMsgDlgType
{
    mtWarning,
    mtError,
    mtInformation,
    mtConfirmation,
    mtCustom
};

// The standard push buttons, in the order the standard box lays them out.
enum class TMsgDlgBtn
{
    mbYes,
    mbNo,
    mbOK,
    mbCancel,
    mbAbort,
    mbRetry,
    mbIgnore,
    mbAll,
    mbNoToAll,
    mbYesToAll,
    mbHelp
};

// Modal results of the standard buttons.
enum TModalResult : int
{
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrAbort = 3,
    mrRetry = 4,
    mrIgnore = 5,
    mrYes = 6,
    mrNo = 7,
    mrAll = 8,
    mrNoToAll = 9,
    mrYesToAll = 10
};

// The result a standard button gives when pressed.
int ModalResultOf(TMsgDlgBtn button);
// The standard caption of a button ("&Yes", "OK", ...).
QString StandardCaption(TMsgDlgBtn button);

struct TMessageBoxRequest
{
    QWidget* Owner = nullptr;
    TMsgDlgType Kind = TMsgDlgType::mtInformation;
    QString Caption;
    QString Text;
    QList<TMsgDlgBtn> Buttons{TMsgDlgBtn::mbOK};
    // Replaces the captions of the buttons in their order; an empty entry keeps the standard one.
    QStringList ButtonCaptions;
    // The default button and the one Escape presses; mrNone lets the box choose by the
    // platform's rule (OK, else Yes, else Retry; Escape: Cancel, else No, else OK).
    int DefaultResult = mrNone;
    int EscapeResult = mrNone;
    // Whether to give the system sound of the kind before showing.
    bool Beep = false;
};

// Whoever shows message boxes. The real one shows a QMessageBox; tests install an answerer.
class IMessageBoxes
{
public:
    virtual ~IMessageBoxes() = default;
    // Shows the box modally and returns the modal result of the button pressed (the Escape
    // button's result when the box is closed otherwise).
    virtual int Show(const TMessageBoxRequest& request) = 0;
};

// The process's message boxes: the real ones unless a test installed others.
IMessageBoxes& MessageBoxes();
// Installs `boxes` (not owned) for the process; nullptr restores the real ones.
void SetMessageBoxes(IMessageBoxes* boxes);

// The default button's and the Escape button's result under the platform's rule.
int DefaultButtonResult(const QList<TMsgDlgBtn>& buttons);
int EscapeButtonResult(const QList<TMsgDlgBtn>& buttons);

// A plain information box with one OK button and the application's title as caption.
void ShowMessage(const QString& text, QWidget* owner = nullptr);
