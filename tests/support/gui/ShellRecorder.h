#pragma once

#include "platform/shell/Shell.h"

#include <QList>
#include <QUrl>

// Records what the code asks the desktop to open instead of opening it. Installs itself while
// alive; Open answers `Answer` (true: the desktop took it).
class TShellRecorder final : public IShell
{
public:
    TShellRecorder();
    ~TShellRecorder() override;

    bool Open(const QUrl& url) override;

    const QList<QUrl>& Opened() const { return FOpened; }
    void Clear() { FOpened.clear(); }
    bool Answer = true;

private:
    QList<QUrl> FOpened;
};
