#include "ui/ButtonDialog.h"

#include <algorithm>

int ShowButtonDialog(const QString& Text, const QString& Caption, TMsgDlgType DialogKind,
                     const QStringList& ButtonCaptions, const QList<TMsgDlgBtn>& Buttons,
                     QWidget* owner)
{
    // The buttons are a set: the box lays them out in its own fixed order, and the captions
    // follow that order, not the order the caller happened to list them in.
    QList<TMsgDlgBtn> laidOut = Buttons;
    std::sort(laidOut.begin(), laidOut.end());
    laidOut.erase(std::unique(laidOut.begin(), laidOut.end()), laidOut.end());
    if (laidOut.isEmpty())
        laidOut.append(TMsgDlgBtn::mbOK);

    TMessageBoxRequest request;
    request.Owner = owner;
    request.Kind = DialogKind;
    request.Caption = Caption;
    request.Text = Text;
    request.Buttons = laidOut;
    request.ButtonCaptions = ButtonCaptions.mid(0, laidOut.size());
    request.DefaultResult = DefaultButtonResult(laidOut);
    request.EscapeResult = EscapeButtonResult(laidOut);
    request.Beep = true;
    return MessageBoxes().Show(request);
}
