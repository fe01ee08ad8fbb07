#pragma once

#include "controls/ShellBrowser.h"

#include <QFlags>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

class QWidget;

enum TBrowseFlag
{
    bfDirectoriesOnly = 0x0001,
    bfDomainOnly = 0x0002,
    bfAncestors = 0x0004,
    bfComputers = 0x0008,
    bfPrinters = 0x0010,
    bfIncludeFiles = 0x0020,
    bfEditBox = 0x0040,
    bfIncludeURLs = 0x0080,
    bfNewDialogStyle = 0x0100,
    bfShareable = 0x0200,
    bfUseNewUI = 0x0400,
};
Q_DECLARE_FLAGS(TBrowseFlags, TBrowseFlag)
Q_DECLARE_OPERATORS_FOR_FLAGS(TBrowseFlags)

// The top of the folder tree, each with the special-folder number handed to the shell.
enum TRootID
{
    idDesktop = 0,
    idInternet = 1,
    idPrograms = 2,
    idControlPanel = 3,
    idPrinters = 4,
    idPersonal = 5,
    idFavorites = 6,
    idStartup = 7,
    idRecent = 8,
    idSendTo = 9,
    idRecycleBin = 10,
    idStartMenu = 11,
    idDesktopDirectory = 16,
    idDrives = 17,
    idNetwork = 18,
    idNetHood = 19,
    idFonts = 20,
    idTemplates = 21,
    idCommonStartMenu = 22,
    idCommonPrograms = 23,
    idCommonStartup = 24,
    idCommonDesktopDirectory = 25,
    idAppData = 26,
    idPrintHood = 27,
    idDesktopExpanded = 65278,
};

// The browse-request flags for a set of options: each option's own, without the extras that
// ShowDialog adds for the edit box and the status line.
std::uint32_t ShellBrowseFlags(TBrowseFlags options);

// True when `path` names a folder that exists: a root ("/" or a drive root such as "C:/"), or,
// with one trailing "/" removed, a directory.
bool FolderExists(const QString& path);

// `text` shortened by path to fit `maxWidth` in `metrics`: folders leave the front of its
// directory part first ("/a/b/c/" becomes "/.../b/c/"), then its drive, until only the last
// name is left.
QString MinimizeName(const QString& text, const class QFontMetrics& metrics, int maxWidth);

// Chooses a folder through the shell's folder browser.
//
// Set Selection before ShowDialog to open the browser on that folder; after ShowDialog
// returned true, Selection holds the chosen folder's path as the browser gave it. Selection,
// StatusText, FitStatusText, EnableOKButton and Caption update the open browser at once.
class TdfsBrowseDirectoryDlg : public QObject
{
    Q_OBJECT

public:
    // The browser is shown over the owner when that is a widget, else over the active window.
    explicit TdfsBrowseDirectoryDlg(QObject* owner = nullptr);
    ~TdfsBrowseDirectoryDlg() override;

    QString Version() const { return QStringLiteral("TdfsBrowseDirectoryDlg v2.60"); }

    // Setting a folder that exists appends "/"; setting empty text forgets the last chosen
    // item. With ShowSelectionInStatus the status text follows.
    QString Selection() const { return FSelection; }
    void SetSelection(const QString& value);

    QString Title;
    TRootID Root = idDesktop;

    // Assigning adds the implied options: bfIncludeURLs adds bfIncludeFiles and bfUseNewUI,
    // bfShareable adds bfUseNewUI, and bfUseNewUI adds bfEditBox and bfNewDialogStyle.
    TBrowseFlags Options() const { return FOptions; }
    void SetOptions(TBrowseFlags value);

    bool Center = true;

    QString StatusText() const { return FStatusText; }
    void SetStatusText(const QString& value);
    bool FitStatusText() const { return FFitStatusText; }
    void SetFitStatusText(bool value);
    bool EnableOKButton() const { return FEnableOKButton; }
    void SetEnableOKButton(bool value);

    // The system image index of the last chosen item; -1 before any.
    int ImageIndex() const { return FImageIndex; }

    // The open browser's window text, or the stored caption.
    QString Caption() const;
    void SetCaption(const QString& value);

    bool ShowSelectionInStatus = false;

    // The display name of the last chosen item.
    QString DisplayName() const { return FDisplayName; }

    std::function<void(QObject* sender, const QString& newSel, const TShellItem* newSelPIDL)>
        OnSelChanged;
    std::function<void(QObject* sender)> OnCreate;
    std::function<void(QObject* sender, const QString& path, bool& cancel)> OnValidateFailed;

    // Shows the browser modally; true when the user chose an item.
    virtual bool ShowDialog();

protected:
    virtual void HandleInitialized(IBrowserWindow* window);
    virtual void HandleSelChanged(const TShellItem* item);
    virtual void HandleValidateFailed(const QString& text, bool& cancel);

private:
    static int BrowseCallbackProc(IBrowserWindow* window, int msg, const TBrowseParam& param,
                                  void* data);
    void ApplySelection();
    void SendStatusText();
    QString FittedStatusText() const;

    QWidget* FParent = nullptr;
    IBrowserWindow* FDlgWnd = nullptr;
    std::optional<TShellItem> FSelectionPIDL;
    QString FSelection;
    QString FDisplayName;
    QString FCaption;
    QString FStatusText;
    TBrowseFlags FOptions;
    bool FFitStatusText = true;
    bool FEnableOKButton = true;
    int FImageIndex = -1;
};
