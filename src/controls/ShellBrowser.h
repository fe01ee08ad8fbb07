#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <cstdint>
#include <optional>

class QWidget;

// The shell's folder browser as the browse dialog component talks to it: a modal window that
// reports being initialised, a changed selection and a typed name it could not accept, and
// that understands a few messages (enable OK, set the status text, select a path or an item).
// The real one is TFolderBrowserWindow; tests put a scripted one in its place.

// An item of the browser's namespace. Every item shown here is a file-system folder (or a file
// when files are asked for); an empty Path names the namespace root above them, the desktop.
struct TShellItem
{
    QString Path;
    QString DisplayName;
    bool operator==(const TShellItem&) const = default;
};

// Browse-request flags.
inline constexpr std::uint32_t BIF_RETURNONLYFSDIRS = 0x0001;
inline constexpr std::uint32_t BIF_DONTGOBELOWDOMAIN = 0x0002;
inline constexpr std::uint32_t BIF_STATUSTEXT = 0x0004;
inline constexpr std::uint32_t BIF_RETURNFSANCESTORS = 0x0008;
inline constexpr std::uint32_t BIF_EDITBOX = 0x0010;
inline constexpr std::uint32_t BIF_VALIDATE = 0x0020;
inline constexpr std::uint32_t BIF_NEWDIALOGSTYLE = 0x0040;
inline constexpr std::uint32_t BIF_BROWSEINCLUDEURLS = 0x0080;
inline constexpr std::uint32_t BIF_BROWSEFORCOMPUTER = 0x1000;
inline constexpr std::uint32_t BIF_BROWSEFORPRINTER = 0x2000;
inline constexpr std::uint32_t BIF_BROWSEINCLUDEFILES = 0x4000;
inline constexpr std::uint32_t BIF_SHAREABLE = 0x8000;

// Notifications from the browser to its callback.
inline constexpr int BFFM_INITIALIZED = 1;
inline constexpr int BFFM_SELCHANGED = 2;
inline constexpr int BFFM_VALIDATEFAILED = 3;

// Messages to the browser (message base 1024 plus 100, 101, 102).
inline constexpr int BFFM_SETSTATUSTEXT = 1124;
inline constexpr int BFFM_ENABLEOK = 1125;
inline constexpr int BFFM_SETSELECTION = 1126;

// The control identifier of the browser's status line.
inline constexpr int BrowseStatusLineID = 14147;

// The open browser window.
class IBrowserWindow
{
public:
    virtual ~IBrowserWindow() = default;

    virtual void EnableOK(bool enable) = 0;                    // BFFM_ENABLEOK
    virtual void SetStatusText(const QString& text) = 0;       // BFFM_SETSTATUSTEXT
    virtual void SetSelectionPath(const QString& path) = 0;    // BFFM_SETSELECTION, 1
    virtual void SetSelectionItem(const TShellItem& item) = 0; // BFFM_SETSELECTION, 0

    virtual QString WindowText() const = 0;
    virtual void SetWindowText(const QString& text) = 0;
    // The window's outer rectangle, and moving it without resizing or activating it.
    virtual QRect WindowRect() const = 0;
    virtual void MoveWindow(const QPoint& topLeft) = 0;
    virtual QSize ScreenSize() const = 0;
    // The status line (control BrowseStatusLineID), or nullptr when the browser has none.
    virtual const QWidget* StatusLine() const = 0;
};

// What a notification carries: the newly selected item, or the text that failed validation.
struct TBrowseParam
{
    const TShellItem* Item = nullptr;
    QString Text;
};

// Called on the user-interface thread for each notification. For BFFM_VALIDATEFAILED a
// non-zero result keeps the browser open; zero closes it with nothing chosen.
using TBrowseCallback = int (*)(IBrowserWindow* window, int msg, const TBrowseParam& param,
                                void* data);

struct TBrowseInfo
{
    QWidget* Owner = nullptr;
    std::optional<TShellItem> Root; // the top of the tree; none for the desktop
    QString Title;                  // shown above the tree
    std::uint32_t Flags = 0;
    TBrowseCallback Callback = nullptr;
    void* Data = nullptr;
};

struct TBrowseResult
{
    std::optional<TShellItem> Item; // none when cancelled
    QString DisplayName;
    int Image = -1;
};

class IShellBrowser
{
public:
    virtual ~IShellBrowser() = default;
    // Shows the browser modally.
    virtual TBrowseResult BrowseForFolder(const TBrowseInfo& info) = 0;
};

// The process's folder browser: the real window unless a test installed another.
IShellBrowser& ShellBrowser();
// Installs `browser` (not owned) for the process; nullptr restores the real one.
void SetShellBrowser(IShellBrowser* browser);

// The folder a special-folder number names on this system; none for those that have no
// counterpart here (printers, control panel, network), which browse from the desktop.
std::optional<TShellItem> SpecialFolderLocation(int csidl);

// The item of an absolute path that exists; none otherwise.
std::optional<TShellItem> ParseDisplayName(const QString& path);

// The index of the path's kind in the browser's small image list: 0 folder, 1 open folder,
// 2 file, 3 drive, 4 home, 5 desktop.
int SystemImageIndex(const QString& path);
