#pragma once

#include <QLatin1String>
#include <QString>
#include <QUrl>

// The desktop's "open" service: folders in the file manager, the manual in the browser, the
// home page, a mail to support. Reached through one seam so tests record instead of opening.

// The maker's home page, opened by the link at the bottom of the main window.
inline constexpr QLatin1String HomePageURL{"https://tarvik.example.org/"};
// Where the error report asks users to send the failure.
inline constexpr QLatin1String SupportEMail{"support@tarvik.example.org"};

// Whoever opens URLs. The real one asks the desktop (QDesktopServices); tests install others.
class IShell
{
public:
    virtual ~IShell() = default;
    // Opens `url` with the desktop's handler; false when none took it.
    virtual bool Open(const QUrl& url) = 0;
};

// The process's shell: the real one unless a test installed another.
IShell& Shell();
// Installs `shell` (not owned) for the process; nullptr restores the real one.
void SetShell(IShell* shell);

// What ShellOpen would hand to the desktop: a web, mail or file URL as it stands; anything else
// is a local path, made absolute, as a file URL (so a folder named "javascript:x" is a folder).
// Empty for an empty or blank argument.
QUrl ShellUrlFor(const QString& pathOrUrl);

// Opens a folder, a file or a URL. False when the argument is empty or the desktop refused.
bool ShellOpen(const QString& pathOrUrl);

// The HTML manual shipped with the program; empty when it is not installed.
QString HelpFilePath();
