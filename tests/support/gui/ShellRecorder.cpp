#include "support/gui/ShellRecorder.h"

TShellRecorder::TShellRecorder()
{
    SetShell(this);
}

TShellRecorder::~TShellRecorder()
{
    SetShell(nullptr);
}

bool TShellRecorder::Open(const QUrl& url)
{
    FOpened.append(url);
    return Answer;
}
