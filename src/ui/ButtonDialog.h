#pragma once

#include "platform/shell/MessageBox.h"

#include <QList>
#include <QString>
#include <QStringList>

class QWidget;

// The platform's standard message box of kind `DialogKind` with the push buttons `Buttons`,
// captioned `Caption` instead of the standard caption, its buttons' captions replaced, in the
// order the box lays them out, by `ButtonCaptions` (an empty entry, or a button beyond the list,
// keeps the standard caption). The kind's system sound is given first. The default button is
// OK if present, else Yes, else Retry; Escape presses Cancel if present, else No, else OK.
// Shown modally over `owner`; returns the pressed button's modal result, or the Escape
// button's when the box is closed otherwise.
int ShowButtonDialog(const QString& Text, const QString& Caption, TMsgDlgType DialogKind,
                     const QStringList& ButtonCaptions, const QList<TMsgDlgBtn>& Buttons,
                     QWidget* owner = nullptr);
