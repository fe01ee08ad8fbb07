#include "platform/shell/MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace {

QMessageBox::Icon IconOf(TMsgDlgType kind)
{
    switch (kind) {
    case TMsgDlgType::mtWarning:
        return QMessageBox::Warning;
    case TMsgDlgType::mtError:
        return QMessageBox::Critical;
    case TMsgDlgType::mtInformation:
        return QMessageBox::Information;
    case TMsgDlgType::mtConfirmation:
        return QMessageBox::Question;
    case TMsgDlgType::mtCustom:
        return QMessageBox::NoIcon;
    }
    return QMessageBox::NoIcon;
}

class TRealMessageBoxes final : public IMessageBoxes
{
public:
    int Show(const TMessageBoxRequest& request) override
    {
        if (request.Beep)
            QApplication::beep();
        QMessageBox box(IconOf(request.Kind), request.Caption, request.Text, QMessageBox::NoButton,
                        request.Owner);
        const int defaultResult = request.DefaultResult != mrNone
                                      ? request.DefaultResult
                                      : DefaultButtonResult(request.Buttons);
        const int escapeResult = request.EscapeResult != mrNone
                                     ? request.EscapeResult
                                     : EscapeButtonResult(request.Buttons);
        QList<QPair<QAbstractButton*, int>> results;
        for (qsizetype i = 0; i < request.Buttons.size(); ++i) {
            const TMsgDlgBtn b = request.Buttons[i];
            QString caption = StandardCaption(b);
            if (i < request.ButtonCaptions.size() && !request.ButtonCaptions[i].isEmpty())
                caption = request.ButtonCaptions[i];
            // Custom captions need our own buttons: a standard button's text follows the style.
            QPushButton* button = box.addButton(caption, QMessageBox::ActionRole);
            const int result = ModalResultOf(b);
            results.append({button, result});
            if (result == defaultResult)
                box.setDefaultButton(button);
            if (result == escapeResult)
                box.setEscapeButton(button);
        }
        box.exec();
        const QAbstractButton* clicked = box.clickedButton();
        for (const auto& [button, result] : results)
            if (button == clicked)
                return result;
        return escapeResult;
    }
};

TRealMessageBoxes g_real;
IMessageBoxes* g_current = nullptr;

} // namespace

int ModalResultOf(TMsgDlgBtn button)
{
    switch (button) {
    case TMsgDlgBtn::mbYes:
        return mrYes;
    case TMsgDlgBtn::mbNo:
        return mrNo;
    case TMsgDlgBtn::mbOK:
        return mrOk;
    case TMsgDlgBtn::mbCancel:
        return mrCancel;
    case TMsgDlgBtn::mbAbort:
        return mrAbort;
    case TMsgDlgBtn::mbRetry:
        return mrRetry;
    case TMsgDlgBtn::mbIgnore:
        return mrIgnore;
    case TMsgDlgBtn::mbAll:
        return mrAll;
    case TMsgDlgBtn::mbNoToAll:
        return mrNoToAll;
    case TMsgDlgBtn::mbYesToAll:
        return mrYesToAll;
    case TMsgDlgBtn::mbHelp:
        return mrNone;
    }
    return mrNone;
}

QString StandardCaption(TMsgDlgBtn button)
{
    switch (button) {
    case TMsgDlgBtn::mbYes:
        return QStringLiteral("&Yes");
    case TMsgDlgBtn::mbNo:
        return QStringLiteral("&No");
    case TMsgDlgBtn::mbOK:
        return QStringLiteral("OK");
    case TMsgDlgBtn::mbCancel:
        return QStringLiteral("Cancel");
    case TMsgDlgBtn::mbAbort:
        return QStringLiteral("&Abort");
    case TMsgDlgBtn::mbRetry:
        return QStringLiteral("&Retry");
    case TMsgDlgBtn::mbIgnore:
        return QStringLiteral("&Ignore");
    case TMsgDlgBtn::mbAll:
        return QStringLiteral("&All");
    case TMsgDlgBtn::mbNoToAll:
        return QStringLiteral("N&o to All");
    case TMsgDlgBtn::mbYesToAll:
        return QStringLiteral("Yes to &All");
    case TMsgDlgBtn::mbHelp:
        return QStringLiteral("&Help");
    }
    return {};
}

int DefaultButtonResult(const QList<TMsgDlgBtn>& buttons)
{
    for (TMsgDlgBtn b : {TMsgDlgBtn::mbOK, TMsgDlgBtn::mbYes, TMsgDlgBtn::mbRetry})
        if (buttons.contains(b))
            return ModalResultOf(b);
    return buttons.isEmpty() ? mrNone : ModalResultOf(buttons.first());
}

int EscapeButtonResult(const QList<TMsgDlgBtn>& buttons)
{
    for (TMsgDlgBtn b : {TMsgDlgBtn::mbCancel, TMsgDlgBtn::mbNo, TMsgDlgBtn::mbOK})
        if (buttons.contains(b))
            return ModalResultOf(b);
    return mrCancel;
}

IMessageBoxes& MessageBoxes()
{
    return g_current != nullptr ? *g_current : g_real;
}

void SetMessageBoxes(IMessageBoxes* boxes)
{
    g_current = boxes;
}

void ShowMessage(const QString& text, QWidget* owner)
{
    TMessageBoxRequest request;
    request.Owner = owner;
    request.Caption = QApplication::applicationDisplayName();
    request.Text = text;
    MessageBoxes().Show(request);
}
