#include "platform/shell/Shell.h"

#include "platform/DataFiles.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>

namespace {

class TDesktopShell final : public IShell
{
public:
    bool Open(const QUrl& url) override { return QDesktopServices::openUrl(url); }
};

IShell* InstalledShell = nullptr;

// Only these leave the program as URLs; every other string names a file or folder. A one-letter
// scheme would be a drive letter on Windows, which is a path too.
bool IsOpenableScheme(const QString& scheme)
{
    return scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
           scheme == QLatin1String("mailto") || scheme == QLatin1String("file");
}

} // namespace

IShell& Shell()
{
    static TDesktopShell desktop;
    return InstalledShell != nullptr ? *InstalledShell : desktop;
}

void SetShell(IShell* shell)
{
    InstalledShell = shell;
}

QUrl ShellUrlFor(const QString& pathOrUrl)
{
    const QString text = pathOrUrl.trimmed();
    if (text.isEmpty())
        return {};
    const QUrl asUrl(text, QUrl::StrictMode);
    if (asUrl.isValid() && IsOpenableScheme(asUrl.scheme().toLower()))
        return asUrl;
    return QUrl::fromLocalFile(QDir::cleanPath(QFileInfo(pathOrUrl).absoluteFilePath()));
}

bool ShellOpen(const QString& pathOrUrl)
{
    const QUrl url = ShellUrlFor(pathOrUrl);
    if (url.isEmpty())
        return false;
    return Shell().Open(url);
}

QString HelpFilePath()
{
    return FindDataFile(QStringLiteral("help/index.html"));
}
