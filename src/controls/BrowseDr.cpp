#include "controls/BrowseDr.h"

#include <QApplication>
#include <QFileInfo>
#include <QFontMetrics>
#include <QWidget>

namespace {

const QChar kSep = QLatin1Char('/');
const QString kEllipsis = QStringLiteral("...");
// A path of this form names a computer or share rather than a local folder.
const QString kNetworkPrefix = QStringLiteral("//");

bool IsDriveLetterForm(const QString& path)
{
    return path.size() >= 2 && path[0].isLetter() && path[1] == QLatin1Char(':');
}

bool IsDriveRoot(const QString& path)
{
    return path.size() == 3 && IsDriveLetterForm(path) && path[2] == kSep;
}

// The path as the browser is given it: no trailing separator, except on a root, and a bare
// drive gets one.
QString BrowserPathText(QString path)
{
    if (path.size() == 2 && IsDriveLetterForm(path))
        return path + kSep;
    if (path.endsWith(kSep) && path != kSep && !IsDriveRoot(path))
        path.chop(1);
    return path;
}

// Drops the first folder of a directory part: "/a/b/c/" -> "/.../b/c/", "/.../b/c/" ->
// "/.../c/", and a part without a further separator becomes empty.
void CutFirstDirectory(QString& dir)
{
    const bool root = dir.startsWith(kSep);
    if (root)
        dir.remove(0, 1);
    if (dir.startsWith(kEllipsis + kSep))
        dir.remove(0, 4);
    const qsizetype p = dir.indexOf(kSep);
    if (p >= 0)
        dir = kEllipsis + kSep + dir.mid(p + 1);
    else
        dir.clear();
    if (root)
        dir.prepend(kSep);
}

} // namespace

std::uint32_t ShellBrowseFlags(TBrowseFlags options)
{
    static constexpr struct
    {
        TBrowseFlag Option;
        std::uint32_t Shell;
    } kFlags[] = {
        {bfDirectoriesOnly, BIF_RETURNONLYFSDIRS},
        {bfDomainOnly, BIF_DONTGOBELOWDOMAIN},
        {bfAncestors, BIF_RETURNFSANCESTORS},
        {bfComputers, BIF_BROWSEFORCOMPUTER},
        {bfPrinters, BIF_BROWSEFORPRINTER},
        {bfIncludeFiles, BIF_BROWSEINCLUDEFILES},
        {bfEditBox, BIF_EDITBOX | BIF_VALIDATE},
        {bfIncludeURLs, BIF_BROWSEINCLUDEURLS},
        {bfNewDialogStyle, BIF_NEWDIALOGSTYLE},
        {bfShareable, BIF_SHAREABLE},
        {bfUseNewUI, BIF_EDITBOX | BIF_NEWDIALOGSTYLE},
    };
    std::uint32_t flags = 0;
    for (const auto& f : kFlags) {
        if (options.testFlag(f.Option))
            flags |= f.Shell;
    }
    return flags;
}

bool FolderExists(const QString& path)
{
    if (path == kSep)
        return true;
    if (IsDriveRoot(path))
        return QFileInfo(path).isDir();
    QString dir = path;
    if (dir.endsWith(kSep))
        dir.chop(1);
    return !dir.isEmpty() && QFileInfo(dir).isDir();
}

QString MinimizeName(const QString& text, const QFontMetrics& metrics, int maxWidth)
{
    QString drive;
    QString rest = text;
    if (text.size() >= 2 && text[1] == QLatin1Char(':')) {
        drive = text.left(2);
        rest = text.mid(2);
    }
    const qsizetype slash = rest.lastIndexOf(kSep);
    QString dir = rest.left(slash + 1);
    const QString name = rest.mid(slash + 1);

    QString result = text;
    while ((!dir.isEmpty() || !drive.isEmpty()) && metrics.horizontalAdvance(result) > maxWidth) {
        if (dir == kSep + kEllipsis + kSep) {
            drive.clear();
            dir = kEllipsis + kSep;
        } else if (dir.isEmpty()) {
            drive.clear();
        } else {
            CutFirstDirectory(dir);
        }
        result = drive + dir + name;
    }
    return result;
}

TdfsBrowseDirectoryDlg::TdfsBrowseDirectoryDlg(QObject* owner)
    : QObject(owner), FParent(qobject_cast<QWidget*>(owner))
{
}

TdfsBrowseDirectoryDlg::~TdfsBrowseDirectoryDlg() = default;

void TdfsBrowseDirectoryDlg::SetSelection(const QString& value)
{
    if (value == FSelection)
        return;
    FSelection = value;
    // A trailing separator marks the text as a folder that exists.
    if (!FSelection.isEmpty() && !FSelection.endsWith(kSep) && FolderExists(FSelection))
        FSelection += kSep;
    if (FSelection.isEmpty())
        FSelectionPIDL.reset();
    if (ShowSelectionInStatus)
        SetStatusText(FSelection);
    if (FDlgWnd != nullptr)
        ApplySelection();
}

void TdfsBrowseDirectoryDlg::SetOptions(TBrowseFlags value)
{
    if (value == FOptions)
        return;
    if (value.testFlag(bfIncludeURLs))
        value |= bfIncludeFiles | bfUseNewUI;
    if (value.testFlag(bfShareable))
        value |= bfUseNewUI;
    if (value.testFlag(bfUseNewUI))
        value |= bfEditBox | bfNewDialogStyle;
    FOptions = value;
}

void TdfsBrowseDirectoryDlg::SetStatusText(const QString& value)
{
    if (value == FStatusText)
        return;
    FStatusText = value;
    if (FDlgWnd != nullptr)
        SendStatusText();
}

void TdfsBrowseDirectoryDlg::SetFitStatusText(bool value)
{
    if (value == FFitStatusText)
        return;
    FFitStatusText = value;
    if (FDlgWnd != nullptr)
        SendStatusText();
}

void TdfsBrowseDirectoryDlg::SetEnableOKButton(bool value)
{
    if (value == FEnableOKButton)
        return;
    FEnableOKButton = value;
    if (FDlgWnd != nullptr)
        FDlgWnd->EnableOK(FEnableOKButton);
}

QString TdfsBrowseDirectoryDlg::Caption() const
{
    if (FDlgWnd != nullptr)
        return FDlgWnd->WindowText().left(255);
    return FCaption;
}

void TdfsBrowseDirectoryDlg::SetCaption(const QString& value)
{
    FCaption = value;
    if (FDlgWnd != nullptr)
        FDlgWnd->SetWindowText(FCaption);
}

bool TdfsBrowseDirectoryDlg::ShowDialog()
{
    FDisplayName.clear();
    QWidget* parent = FParent != nullptr ? FParent : QApplication::activeWindow();

    TBrowseInfo info;
    info.Owner = parent;
    info.Root = SpecialFolderLocation(Root);
    info.Title = Title;
    info.Flags = ShellBrowseFlags(FOptions);
    if (FOptions.testFlag(bfEditBox))
        info.Flags |= BIF_VALIDATE;
    if (!FStatusText.isEmpty() || ShowSelectionInStatus)
        info.Flags |= BIF_STATUSTEXT;
    info.Callback = &TdfsBrowseDirectoryDlg::BrowseCallbackProc;
    info.Data = this;

    const TBrowseResult result = ShellBrowser().BrowseForFolder(info);
    FDlgWnd = nullptr;

    bool success = false;
    QString path;
    if (result.Item) {
        if (FOptions.testFlag(bfComputers)) {
            path = kNetworkPrefix + result.DisplayName;
            if (!result.Item->Path.isEmpty())
                path = result.Item->Path;
            success = true;
        } else {
            path = result.Item->Path;
            success = !path.isEmpty();
        }
        FImageIndex = result.Image;
        if (success && FImageIndex == -1)
            FImageIndex = SystemImageIndex(path);
        // An item without a path (the desktop itself) still counts as chosen.
        success = true;
        FDisplayName = result.DisplayName;
    }

    if (success) {
        FSelection = path;
        FSelectionPIDL = result.Item;
    } else {
        FSelection.clear();
        FSelectionPIDL.reset();
    }
    return success;
}

void TdfsBrowseDirectoryDlg::HandleInitialized(IBrowserWindow* window)
{
    FDlgWnd = window;
    if (Center) {
        const QRect r = window->WindowRect();
        const QSize screen = window->ScreenSize();
        window->MoveWindow(
            QPoint((screen.width() - r.width()) / 2, (screen.height() - r.height()) / 2));
    }
    window->EnableOK(FEnableOKButton);
    if (!FStatusText.isEmpty())
        SendStatusText();
    if (!FSelection.isEmpty() || FSelectionPIDL)
        ApplySelection();
    if (!FCaption.isEmpty())
        window->SetWindowText(FCaption);
    if (OnCreate)
        OnCreate(this);
}

void TdfsBrowseDirectoryDlg::HandleSelChanged(const TShellItem* item)
{
    if (!ShowSelectionInStatus && !OnSelChanged)
        return;
    const QString path = item != nullptr ? item->Path : QString();
    if (ShowSelectionInStatus)
        SetStatusText(path);
    if (OnSelChanged)
        OnSelChanged(this, path, item);
}

void TdfsBrowseDirectoryDlg::HandleValidateFailed(const QString& text, bool& cancel)
{
    if (OnValidateFailed)
        OnValidateFailed(this, text, cancel);
}

int TdfsBrowseDirectoryDlg::BrowseCallbackProc(IBrowserWindow* window, int msg,
                                               const TBrowseParam& param, void* data)
{
    auto* self = static_cast<TdfsBrowseDirectoryDlg*>(data);
    if (self == nullptr)
        return 0;
    switch (msg) {
    case BFFM_INITIALIZED:
        self->HandleInitialized(window);
        return 0;
    case BFFM_SELCHANGED:
        self->HandleSelChanged(param.Item);
        return 0;
    case BFFM_VALIDATEFAILED: {
        bool cancel = false;
        self->HandleValidateFailed(param.Text, cancel);
        return cancel ? 0 : 1;
    }
    default:
        return 0;
    }
}

void TdfsBrowseDirectoryDlg::ApplySelection()
{
    if (FDlgWnd == nullptr)
        return;
    if (!FSelection.isEmpty() || !FSelectionPIDL) {
        if (!FSelection.startsWith(kNetworkPrefix)) {
            if (auto item = ParseDisplayName(FSelection))
                FSelectionPIDL = item;
            // Sent as text even when it did not parse: the browser selects what it can.
            FDlgWnd->SetSelectionPath(BrowserPathText(FSelection));
        } else if (auto item = ParseDisplayName(FSelection)) {
            FSelectionPIDL = item;
            FDlgWnd->SetSelectionItem(*item);
        }
    } else {
        FSelection = FSelectionPIDL->Path;
        FDlgWnd->SetSelectionItem(*FSelectionPIDL);
    }
}

void TdfsBrowseDirectoryDlg::SendStatusText()
{
    if (FDlgWnd != nullptr)
        FDlgWnd->SetStatusText(FittedStatusText());
}

QString TdfsBrowseDirectoryDlg::FittedStatusText() const
{
    const QWidget* status = FDlgWnd != nullptr ? FDlgWnd->StatusLine() : nullptr;
    if (!FFitStatusText || status == nullptr)
        return FStatusText;
    const QFontMetrics metrics(status->font());
    const int maxWidth = status->contentsRect().width();
    if (FolderExists(FStatusText))
        return MinimizeName(FStatusText, metrics, maxWidth);
    QString text = FStatusText;
    QString shown = text;
    while (metrics.horizontalAdvance(shown) > maxWidth && !text.isEmpty()) {
        text.chop(1);
        shown = text + kEllipsis;
    }
    return shown;
}
