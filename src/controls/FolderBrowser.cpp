#include "controls/FolderBrowser.h"

#include "controls/BrowseDr.h"
#include "platform/shell/MessageBox.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int PathRole = Qt::UserRole;
constexpr int PopulatedRole = Qt::UserRole + 1;

const QString kNewFolderName = QStringLiteral("New Folder");

QString CleanPath(const QString& path)
{
    return QDir::cleanPath(path);
}

// The name a folder is shown under.
QString DisplayNameOf(const QString& path)
{
    const QString clean = CleanPath(path);
    if (clean == QLatin1String("/"))
        return QCoreApplication::translate("TFolderBrowserWindow", "File System");
    if (clean == CleanPath(QDir::homePath()))
        return QCoreApplication::translate("TFolderBrowserWindow", "Home");
    const QString name = QFileInfo(clean).fileName();
    return name.isEmpty() ? clean : name;
}

bool IsUnder(const QString& path, const QString& folder)
{
    if (folder == QLatin1String("/"))
        return path.startsWith(folder);
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

QString StandardFolder(QStandardPaths::StandardLocation location)
{
    const QString path = QStandardPaths::writableLocation(location);
    return path.isEmpty() ? QString() : CleanPath(path);
}

// The real folder browser: the window above, run modally.
class TRealShellBrowser final : public IShellBrowser
{
public:
    TBrowseResult BrowseForFolder(const TBrowseInfo& info) override
    {
        TFolderBrowserWindow window(info);
        return window.Run();
    }
};

IShellBrowser* g_browser = nullptr;

} // namespace

IShellBrowser& ShellBrowser()
{
    static TRealShellBrowser real;
    return g_browser != nullptr ? *g_browser : real;
}

void SetShellBrowser(IShellBrowser* browser)
{
    g_browser = browser;
}

std::optional<TShellItem> SpecialFolderLocation(int csidl)
{
    QString path;
    const QString home = CleanPath(QDir::homePath());
    switch (csidl) {
    case 2:  // programs
    case 11: // start menu
        path = StandardFolder(QStandardPaths::ApplicationsLocation);
        break;
    case 5: // personal documents
        path = StandardFolder(QStandardPaths::DocumentsLocation);
        break;
    case 7: // startup
        path = StandardFolder(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart");
        break;
    case 10: // recycle bin
        path = StandardFolder(QStandardPaths::GenericDataLocation) + QStringLiteral("/Trash/files");
        break;
    case 16: // desktop folder
    case 25:
        path = StandardFolder(QStandardPaths::DesktopLocation);
        break;
    case 17: // the computer's drives
        path = QStringLiteral("/");
        break;
    case 20: // fonts
        path = StandardFolder(QStandardPaths::FontsLocation);
        break;
    case 21: // templates
        path = home + QStringLiteral("/Templates");
        break;
    case 22: // everybody's start menu and programs
    case 23:
        path = QStringLiteral("/usr/share/applications");
        break;
    case 24: // everybody's startup
        path = QStringLiteral("/etc/xdg/autostart");
        break;
    case 26: // application data
        path = StandardFolder(QStandardPaths::GenericDataLocation);
        break;
    default: // the desktop, and what has no folder here
        return std::nullopt;
    }
    return ParseDisplayName(path);
}

std::optional<TShellItem> ParseDisplayName(const QString& path)
{
    if (path.isEmpty())
        return std::nullopt;
    const QFileInfo info(path);
    if (!info.isAbsolute() || !info.exists())
        return std::nullopt;
    const QString clean = CleanPath(path);
    return TShellItem{clean, DisplayNameOf(clean)};
}

int SystemImageIndex(const QString& path)
{
    const QString clean = CleanPath(path);
    if (clean == QLatin1String("/"))
        return 3;
    if (clean == CleanPath(QDir::homePath()))
        return 4;
    if (clean == StandardFolder(QStandardPaths::DesktopLocation))
        return 5;
    return QFileInfo(clean).isDir() ? 0 : 2;
}

TFolderBrowserWindow::TFolderBrowserWindow(const TBrowseInfo& info)
    : QDialog(info.Owner), FInfo(info)
{
    const bool newStyle = (info.Flags & BIF_NEWDIALOGSTYLE) != 0;
    setWindowTitle(tr("Browse for Folder"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setSizeGripEnabled(newStyle);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(8);

    FTitle = new QLabel(info.Title, this);
    FTitle->setWordWrap(true);
    FTitle->setVisible(!info.Title.isEmpty());
    layout->addWidget(FTitle);

    if ((info.Flags & BIF_STATUSTEXT) != 0) {
        FStatus = new QLabel(this);
        FStatus->setObjectName(QString::number(BrowseStatusLineID));
        // The browse component fits the text to this width; the label must not widen the
        // window to the text instead.
        FStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        FStatus->setMinimumHeight(FStatus->fontMetrics().height());
        FStatus->setTextFormat(Qt::PlainText);
        QPalette pal = FStatus->palette();
        pal.setColor(QPalette::WindowText, pal.color(QPalette::Disabled, QPalette::WindowText));
        FStatus->setPalette(pal);
        layout->addWidget(FStatus);
    }

    FTree = new QTreeWidget(this);
    FTree->setHeaderHidden(true);
    FTree->setColumnCount(1);
    FTree->setUniformRowHeights(true);
    FTree->setAnimated(true);
    FTree->setIconSize(QSize(16, 16));
    FTree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    layout->addWidget(FTree, 1);

    if ((info.Flags & BIF_EDITBOX) != 0) {
        auto* row = new QHBoxLayout;
        auto* label = new QLabel(tr("&Folder:"), this);
        FEdit = new QLineEdit(this);
        label->setBuddy(FEdit);
        row->addWidget(label);
        row->addWidget(FEdit, 1);
        layout->addLayout(row);
    }

    auto* buttons = new QHBoxLayout;
    if (newStyle) {
        FNewFolder = new QPushButton(tr("&Make New Folder"), this);
        FNewFolder->setAutoDefault(false);
        connect(FNewFolder, &QPushButton::clicked, this, &TFolderBrowserWindow::MakeNewFolder);
        buttons->addWidget(FNewFolder);
    }
    buttons->addStretch(1);
    FButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(FButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(FButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    buttons->addWidget(FButtons);
    layout->addLayout(buttons);

    // The tree: one folder as root, or the desktop's view of the file system.
    const QStyle* st = style();
    if (info.Root && !info.Root->Path.isEmpty()) {
        QTreeWidgetItem* root = AddItem(nullptr, info.Root->Path, info.Root->DisplayName,
                                        st->standardIcon(QStyle::SP_DirIcon));
        Populate(root);
        root->setExpanded(true);
    } else {
        const QString home = CleanPath(QDir::homePath());
        QTreeWidgetItem* homeItem =
            AddItem(nullptr, home, DisplayNameOf(home), st->standardIcon(QStyle::SP_DirHomeIcon));
        const QString desktop = StandardFolder(QStandardPaths::DesktopLocation);
        if (!desktop.isEmpty() && desktop != home && QFileInfo(desktop).isDir())
            AddItem(nullptr, desktop, tr("Desktop"), st->standardIcon(QStyle::SP_DesktopIcon));
        const QList<QStorageInfo> volumes = QStorageInfo::mountedVolumes();
        for (const QStorageInfo& volume : volumes) {
            const QString root = CleanPath(volume.rootPath());
            if (!volume.isValid() || !volume.isReady())
                continue;
            // Removable media the desktop mounts for the user; other mounts are in the tree.
            if (!root.startsWith(QLatin1String("/media/")) &&
                !root.startsWith(QLatin1String("/run/media/")))
                continue;
            QString name = volume.displayName();
            if (name.isEmpty() || name.contains(QLatin1Char('/')))
                name = DisplayNameOf(root);
            AddItem(nullptr, root, name, st->standardIcon(QStyle::SP_DriveHDIcon));
        }
        AddItem(nullptr, QStringLiteral("/"), DisplayNameOf(QStringLiteral("/")),
                st->standardIcon(QStyle::SP_DriveHDIcon));
        Populate(homeItem);
        homeItem->setExpanded(true);
    }
    if (FTree->topLevelItemCount() > 0)
        FTree->setCurrentItem(FTree->topLevelItem(0));

    connect(FTree, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* item) { Populate(item); });
    connect(FTree, &QTreeWidget::currentItemChanged, this, &TFolderBrowserWindow::SelectionChanged);
    connect(FTree, &QTreeWidget::itemChanged, this, &TFolderBrowserWindow::ItemRenamed);

    resize(newStyle ? QSize(380, 440) : QSize(330, 400));
    // Lay the children out now: the status line's width is measured before the first show.
    layout->activate();
}

TFolderBrowserWindow::~TFolderBrowserWindow() = default;

TBrowseResult TFolderBrowserWindow::Run()
{
    Notify(BFFM_INITIALIZED, {});
    FInitialized = true;
    SelectionChanged();
    TBrowseResult result;
    if (exec() == QDialog::Accepted && FChosen) {
        result.Item = FChosen;
        result.DisplayName = FChosen->DisplayName;
        result.Image = SystemImageIndex(FChosen->Path);
    }
    return result;
}

int TFolderBrowserWindow::Notify(int msg, const TBrowseParam& param)
{
    if (FInfo.Callback == nullptr)
        return 0;
    return FInfo.Callback(this, msg, param, FInfo.Data);
}

QTreeWidgetItem* TFolderBrowserWindow::AddItem(QTreeWidgetItem* parent, const QString& path,
                                               const QString& name, const QIcon& icon)
{
    auto* item = parent != nullptr ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(FTree);
    item->setText(0, name);
    item->setIcon(0, icon);
    item->setData(0, PathRole, path);
    item->setToolTip(0, path);
    const bool dir = QFileInfo(path).isDir();
    item->setData(0, PopulatedRole, !dir);
    // Whether a folder has subfolders is only learnt when it is opened; listing every child's
    // children up front would make large folders slow to show.
    item->setChildIndicatorPolicy(dir ? QTreeWidgetItem::ShowIndicator
                                      : QTreeWidgetItem::DontShowIndicator);
    return item;
}

void TFolderBrowserWindow::Populate(QTreeWidgetItem* item)
{
    if (item->data(0, PopulatedRole).toBool())
        return;
    item->setData(0, PopulatedRole, true);
    const QString path = item->data(0, PathRole).toString();
    QDir::Filters filters = QDir::Dirs | QDir::NoDotAndDotDot;
    if ((FInfo.Flags & BIF_BROWSEINCLUDEFILES) != 0)
        filters |= QDir::Files;
    const QFileInfoList entries =
        QDir(path).entryInfoList(filters, QDir::Name | QDir::IgnoreCase | QDir::DirsFirst);
    const QIcon folder = style()->standardIcon(QStyle::SP_DirIcon);
    const QIcon file = style()->standardIcon(QStyle::SP_FileIcon);
    const QSignalBlocker block(FTree);
    for (const QFileInfo& entry : entries)
        AddItem(item, CleanPath(entry.absoluteFilePath()), entry.fileName(),
                entry.isDir() ? folder : file);
    if (item->childCount() == 0)
        item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
}

QTreeWidgetItem* TFolderBrowserWindow::FindPath(const QString& target)
{
    // The top-level folder holding the path most closely, then down through its subfolders.
    QTreeWidgetItem* best = nullptr;
    qsizetype bestLength = -1;
    for (int i = 0; i < FTree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* top = FTree->topLevelItem(i);
        const QString path = top->data(0, PathRole).toString();
        if (IsUnder(target, path) && path.size() > bestLength) {
            best = top;
            bestLength = path.size();
        }
    }
    QTreeWidgetItem* item = best;
    while (item != nullptr && item->data(0, PathRole).toString() != target) {
        Populate(item);
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; i < item->childCount() && next == nullptr; ++i) {
            if (IsUnder(target, item->child(i)->data(0, PathRole).toString()))
                next = item->child(i);
        }
        if (next == nullptr)
            break; // the rest does not exist (yet): stay on the nearest folder that does
        item->setExpanded(true);
        item = next;
    }
    return item;
}

void TFolderBrowserWindow::SelectionChanged()
{
    const std::optional<TShellItem> item = CurrentItem();
    if (FEdit != nullptr && item && !FRenaming)
        FEdit->setText(item->DisplayName);
    if (!FInitialized)
        return;
    TBrowseParam param;
    param.Item = item ? &*item : nullptr;
    Notify(BFFM_SELCHANGED, param);
}

std::optional<TShellItem> TFolderBrowserWindow::CurrentItem() const
{
    const QTreeWidgetItem* item = FTree->currentItem();
    if (item == nullptr)
        return std::nullopt;
    return TShellItem{item->data(0, PathRole).toString(), item->text(0)};
}

void TFolderBrowserWindow::accept()
{
    std::optional<TShellItem> chosen = CurrentItem();
    if (FEdit != nullptr) {
        QString typed = FEdit->text().trimmed();
        if (!typed.isEmpty() && (!chosen || typed != chosen->DisplayName)) {
            if (typed == QLatin1String("~") || typed.startsWith(QLatin1String("~/")))
                typed = QDir::homePath() + typed.mid(1);
            // A name is taken inside the selected folder; a path as it stands.
            const QString base = chosen ? chosen->Path : QDir::homePath();
            const QString resolved =
                CleanPath(QDir::isAbsolutePath(typed) ? typed : base + QLatin1Char('/') + typed);
            const QFileInfo info(resolved);
            const bool files = (FInfo.Flags & BIF_BROWSEINCLUDEFILES) != 0;
            if (info.exists() && (info.isDir() || files)) {
                chosen = ParseDisplayName(resolved);
            } else if ((FInfo.Flags & BIF_VALIDATE) != 0) {
                TBrowseParam param;
                param.Text = FEdit->text();
                if (Notify(BFFM_VALIDATEFAILED, param) != 0) {
                    FEdit->setFocus();
                    FEdit->selectAll();
                    return;
                }
                FChosen.reset();
                QDialog::reject();
                return;
            }
        }
    }
    if (!chosen)
        return;
    FChosen = chosen;
    QDialog::accept();
}

void TFolderBrowserWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (FTree->currentItem() != nullptr)
        FTree->scrollToItem(FTree->currentItem(), QAbstractItemView::PositionAtCenter);
    FTree->setFocus();
}

void TFolderBrowserWindow::MakeNewFolder()
{
    QTreeWidgetItem* parent = FTree->currentItem();
    if (parent == nullptr)
        return;
    const QString folder = parent->data(0, PathRole).toString();
    if (!QFileInfo(folder).isDir())
        return;
    QString name = kNewFolderName;
    for (int n = 2; QFileInfo::exists(folder + QLatin1Char('/') + name); ++n)
        name = kNewFolderName + QStringLiteral(" (%1)").arg(n);
    const QString path = CleanPath(folder + QLatin1Char('/') + name);
    if (!QDir().mkdir(path)) {
        TMessageBoxRequest request;
        request.Owner = this;
        request.Kind = TMsgDlgType::mtError;
        request.Caption = windowTitle();
        request.Text = tr("Cannot create the folder %1.").arg(path);
        MessageBoxes().Show(request);
        return;
    }
    Populate(parent);
    QTreeWidgetItem* item = nullptr;
    {
        const QSignalBlocker block(FTree);
        item = AddItem(parent, path, name, style()->standardIcon(QStyle::SP_DirIcon));
        item->setData(0, PopulatedRole, true);
        item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
        item->setFlags(item->flags() | Qt::ItemIsEditable);
    }
    parent->setExpanded(true);
    FTree->setCurrentItem(item);
    FEditing = item;
    FTree->editItem(item, 0);
}

void TFolderBrowserWindow::ItemRenamed(QTreeWidgetItem* item)
{
    // Only the new folder's name is edited in place; other changes are the tree's own.
    if (item != FEditing)
        return;
    const QString oldPath = item->data(0, PathRole).toString();
    const QString name = item->text(0).trimmed();
    if (name == QFileInfo(oldPath).fileName())
        return;
    const QString parentPath = QFileInfo(oldPath).path();
    const QString newPath = CleanPath(parentPath + QLatin1Char('/') + name);
    const bool valid = !name.isEmpty() && !name.contains(QLatin1Char('/')) &&
                       name != QLatin1String(".") && name != QLatin1String("..") &&
                       !QFileInfo::exists(newPath);
    FEditing = nullptr;
    const QSignalBlocker block(FTree);
    if (!valid || !QDir().rename(oldPath, newPath)) {
        item->setText(0, QFileInfo(oldPath).fileName());
        TMessageBoxRequest request;
        request.Owner = this;
        request.Kind = TMsgDlgType::mtError;
        request.Caption = windowTitle();
        request.Text = tr("Cannot rename %1 to \"%2\".").arg(oldPath, name);
        MessageBoxes().Show(request);
        return;
    }
    item->setText(0, name);
    item->setData(0, PathRole, newPath);
    item->setToolTip(0, newPath);
    FRenaming = true;
    SelectionChanged();
    FRenaming = false;
    if (FEdit != nullptr)
        FEdit->setText(name);
}

void TFolderBrowserWindow::EnableOK(bool enable)
{
    FButtons->button(QDialogButtonBox::Ok)->setEnabled(enable);
}

void TFolderBrowserWindow::SetStatusText(const QString& text)
{
    if (FStatus != nullptr)
        FStatus->setText(text);
}

void TFolderBrowserWindow::SetSelectionPath(const QString& path)
{
    if (path.isEmpty() || !QDir::isAbsolutePath(path))
        return;
    if (QTreeWidgetItem* item = FindPath(CleanPath(path))) {
        FTree->setCurrentItem(item);
        FTree->scrollToItem(item);
    }
}

void TFolderBrowserWindow::SetSelectionItem(const TShellItem& item)
{
    SetSelectionPath(item.Path);
}

QString TFolderBrowserWindow::WindowText() const
{
    return windowTitle();
}

void TFolderBrowserWindow::SetWindowText(const QString& text)
{
    setWindowTitle(text);
}

QRect TFolderBrowserWindow::WindowRect() const
{
    return frameGeometry();
}

void TFolderBrowserWindow::MoveWindow(const QPoint& topLeft)
{
    move(topLeft);
}

QSize TFolderBrowserWindow::ScreenSize() const
{
    const QScreen* s = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
    return s != nullptr ? s->geometry().size() : QSize();
}

const QWidget* TFolderBrowserWindow::StatusLine() const
{
    return FStatus;
}
