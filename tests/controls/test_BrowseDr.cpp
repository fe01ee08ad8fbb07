#include "controls/BrowseDr.h"
#include "controls/FolderBrowser.h"
#include "support/gui/FakeShellBrowser.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

// A temporary tree: <root>/Music, <root>/Music/Rock, <root>/.hidden, <root>/alpha.
struct Folders
{
    Folders()
    {
        QDir(dir.path()).mkpath(QStringLiteral("Music/Rock"));
        QDir(dir.path()).mkpath(QStringLiteral(".hidden"));
        QDir(dir.path()).mkpath(QStringLiteral("alpha"));
    }
    QString Path(const QString& relative = {}) const
    {
        return relative.isEmpty() ? QDir::cleanPath(dir.path())
                                  : QDir::cleanPath(dir.path() + QLatin1Char('/') + relative);
    }
    QTemporaryDir dir;
};

// The browse dialog as the options dialog configures it.
void ConfigureAsOptions(TdfsBrowseDirectoryDlg& dlg)
{
    dlg.Title = QStringLiteral("Choose folder where ripped files should be saved:");
    dlg.SetOptions(bfNewDialogStyle);
    dlg.SetCaption(QStringLiteral("Browse for folder"));
    dlg.ShowSelectionInStatus = true;
}

// The folder browser window on screen.
TFolderBrowserWindow* OpenBrowser()
{
    const QWidgetList widgets = QApplication::topLevelWidgets();
    for (QWidget* w : widgets) {
        if (auto* browser = qobject_cast<TFolderBrowserWindow*>(w); browser && w->isVisible())
            return browser;
    }
    return nullptr;
}

} // namespace

TEST(BrowseDr, OptionsConfigurationHandsTheBrowserItsRequest)
{
    TFakeShellBrowser browser;
    TdfsBrowseDirectoryDlg dlg;
    ConfigureAsOptions(dlg);
    EXPECT_FALSE(dlg.ShowDialog());

    EXPECT_EQ(browser.Info.Flags, 68u);
    EXPECT_FALSE(browser.Info.Root.has_value()); // the desktop
    EXPECT_EQ(browser.Info.Title, dlg.Title);
    EXPECT_EQ(browser.Text, QStringLiteral("Browse for folder"));
    EXPECT_EQ(browser.EnableOKs, QList<bool>{true});
    // Centred: (1025 - 400) / 2 truncates to 312.
    EXPECT_EQ(browser.Rect.topLeft(), QPoint(312, 234));
    // Nothing to select on a new component.
    EXPECT_TRUE(browser.SelectedPaths.isEmpty());
    EXPECT_TRUE(browser.SelectedItems.isEmpty());
}

TEST(BrowseDr, OptionsImplyFlagsAndMapToBrowseFlags)
{
    TdfsBrowseDirectoryDlg dlg;
    dlg.SetOptions(bfUseNewUI);
    EXPECT_EQ(dlg.Options(), TBrowseFlags(bfUseNewUI | bfEditBox | bfNewDialogStyle));
    dlg.SetOptions(bfIncludeURLs);
    EXPECT_EQ(dlg.Options(), TBrowseFlags(bfIncludeURLs | bfIncludeFiles | bfUseNewUI | bfEditBox |
                                          bfNewDialogStyle));
    dlg.SetOptions(bfShareable);
    EXPECT_EQ(dlg.Options(), TBrowseFlags(bfShareable | bfUseNewUI | bfEditBox | bfNewDialogStyle));

    EXPECT_EQ(ShellBrowseFlags(bfEditBox), 48u);
    EXPECT_EQ(ShellBrowseFlags(bfUseNewUI), 80u);
    EXPECT_EQ(ShellBrowseFlags(bfDirectoriesOnly | bfComputers | bfIncludeFiles), 0x5001u);

    // A status text asks for the status line; the edit box for validation.
    TFakeShellBrowser browser;
    TdfsBrowseDirectoryDlg other;
    other.SetOptions(bfEditBox);
    other.SetStatusText(QStringLiteral("Pick one"));
    other.Center = false;
    other.ShowDialog();
    EXPECT_EQ(browser.Info.Flags, 16u | 32u | 4u);
    EXPECT_EQ(browser.Rect.topLeft(), QPoint(10, 20));
    EXPECT_EQ(browser.StatusTexts, QStringList{QStringLiteral("Pick one")});
}

TEST(BrowseDr, SelectionOfAFolderThatExistsGainsASeparatorTheBrowserDoesNotSee)
{
    Folders f;
    TFakeShellBrowser browser;
    TdfsBrowseDirectoryDlg dlg;
    dlg.SetSelection(f.Path(QStringLiteral("Music")));
    EXPECT_EQ(dlg.Selection(), f.Path(QStringLiteral("Music")) + QLatin1Char('/'));
    dlg.ShowDialog();
    EXPECT_EQ(browser.SelectedPaths, QStringList{f.Path(QStringLiteral("Music"))});

    // A folder that does not exist keeps its text and still reaches the browser as text.
    const QString missing = f.Path(QStringLiteral("Nowhere"));
    dlg.SetSelection(missing);
    EXPECT_EQ(dlg.Selection(), missing);
    dlg.ShowDialog();
    EXPECT_EQ(browser.SelectedPaths, QStringList{missing});

    // The root keeps its only separator.
    dlg.SetSelection(QStringLiteral("/"));
    dlg.ShowDialog();
    EXPECT_EQ(browser.SelectedPaths, QStringList{QStringLiteral("/")});
}

TEST(BrowseDr, ChosenFolderComesBackAsTheBrowserGaveIt)
{
    Folders f;
    TFakeShellBrowser browser;
    const TShellItem music{f.Path(QStringLiteral("Music")), QStringLiteral("Music")};
    browser.User = [&](TFakeShellBrowser&) { return std::optional<TShellItem>(music); };

    TdfsBrowseDirectoryDlg dlg;
    ConfigureAsOptions(dlg);
    dlg.SetSelection(f.Path());
    ASSERT_TRUE(dlg.ShowDialog());
    EXPECT_EQ(dlg.Selection(), music.Path); // no trailing separator
    EXPECT_EQ(dlg.DisplayName(), QStringLiteral("Music"));
    EXPECT_EQ(dlg.ImageIndex(), 0); // a folder in the image list, the browser gave none
    browser.ReportedImage = 7;
    ASSERT_TRUE(dlg.ShowDialog());
    EXPECT_EQ(dlg.ImageIndex(), 7);

    // An item without a path still counts as chosen.
    browser.User = [](TFakeShellBrowser&) {
        return std::optional<TShellItem>(TShellItem{QString(), QStringLiteral("Desktop")});
    };
    EXPECT_TRUE(dlg.ShowDialog());
    EXPECT_EQ(dlg.Selection(), QString());
    // And is what the next showing opens on.
    browser.User = nullptr;
    EXPECT_FALSE(dlg.ShowDialog());
    ASSERT_EQ(browser.SelectedItems.size(), 1);
    EXPECT_EQ(browser.SelectedItems.front().DisplayName, QStringLiteral("Desktop"));

    // Cancelled: false, and the selection is emptied.
    dlg.SetSelection(f.Path());
    EXPECT_FALSE(dlg.ShowDialog());
    EXPECT_EQ(dlg.Selection(), QString());
}

TEST(BrowseDr, HighlightedFolderShowsInTheStatusLineAndRaisesOnSelChanged)
{
    Folders f;
    TFakeShellBrowser browser;
    browser.SetStatusWidth(4000);
    QStringList changes;
    TdfsBrowseDirectoryDlg dlg;
    ConfigureAsOptions(dlg);
    dlg.OnSelChanged = [&](QObject* sender, const QString& path, const TShellItem* item) {
        EXPECT_EQ(sender, &dlg);
        EXPECT_NE(item, nullptr);
        changes.append(path);
    };
    const TShellItem rock{f.Path(QStringLiteral("Music/Rock")), QStringLiteral("Rock")};
    browser.User = [&](TFakeShellBrowser& b) {
        b.Highlight(&rock);
        // Properties set while the browser is open reach it at once.
        dlg.SetEnableOKButton(false);
        dlg.SetCaption(QStringLiteral("Pick"));
        EXPECT_EQ(dlg.Caption(), QStringLiteral("Pick"));
        dlg.SetSelection(f.Path(QStringLiteral("alpha")));
        return std::optional<TShellItem>();
    };
    dlg.ShowDialog();
    EXPECT_EQ(changes, QStringList{rock.Path});
    EXPECT_EQ(browser.StatusTexts,
              (QStringList{rock.Path, f.Path(QStringLiteral("alpha")) + QLatin1Char('/')}));
    EXPECT_EQ(browser.EnableOKs, (QList<bool>{true, false}));
    EXPECT_EQ(browser.SelectedPaths, QStringList{f.Path(QStringLiteral("alpha"))});
    EXPECT_EQ(dlg.Caption(), QStringLiteral("Pick")); // stored again once closed
}

TEST(BrowseDr, ValidationFailureKeepsTheBrowserOpenUnlessCancelled)
{
    TFakeShellBrowser browser;
    TdfsBrowseDirectoryDlg dlg;
    dlg.SetOptions(bfEditBox);
    QString typed;
    bool cancel = false;
    dlg.OnValidateFailed = [&](QObject*, const QString& path, bool& c) {
        typed = path;
        c = cancel;
    };
    int keepOpen = -1, closes = -1;
    browser.User = [&](TFakeShellBrowser& b) {
        keepOpen = b.ValidateFailed(QStringLiteral("no such"));
        cancel = true;
        closes = b.ValidateFailed(QStringLiteral("still none"));
        return std::optional<TShellItem>();
    };
    dlg.ShowDialog();
    EXPECT_EQ(keepOpen, 1);
    EXPECT_EQ(closes, 0);
    EXPECT_EQ(typed, QStringLiteral("still none"));
}

TEST(BrowseDr, MinimizeNameDropsLeadingFoldersThenTheDrive)
{
    const QFontMetrics fm(QApplication::font());
    const auto fit = [&](const QString& text, const QString& room) {
        return MinimizeName(text, fm, fm.horizontalAdvance(room));
    };
    const QString path = QStringLiteral("/aaaaaaaa/bbbbbbbb/cccccccc/");
    EXPECT_EQ(fit(path, path), path);
    EXPECT_EQ(fit(path, QStringLiteral("/.../bbbbbbbb/cccccccc/")),
              QStringLiteral("/.../bbbbbbbb/cccccccc/"));
    EXPECT_EQ(fit(path, QStringLiteral("/.../cccccccc/")), QStringLiteral("/.../cccccccc/"));
    EXPECT_EQ(MinimizeName(path, fm, 1), QString()); // only the (empty) last name is left

    const QString drive = QStringLiteral("C:/aaaaaaaa/bbbbbbbb/name");
    EXPECT_EQ(fit(drive, QStringLiteral("C:/.../name")), QStringLiteral("C:/.../name"));
    EXPECT_EQ(fit(drive, QStringLiteral(".../name")), QStringLiteral(".../name"));
    EXPECT_EQ(MinimizeName(drive, fm, 1), QStringLiteral("name"));
}

TEST(BrowseDr, StatusTextIsFittedToANarrowStatusLine)
{
    Folders f;
    QDir(f.Path()).mkpath(QStringLiteral("aaaaaaaaaaaa/bbbbbbbbbbbb/cccccccccccc"));
    const QString deep =
        f.Path(QStringLiteral("aaaaaaaaaaaa/bbbbbbbbbbbb/cccccccccccc")) + QLatin1Char('/');
    TFakeShellBrowser browser;
    const QFontMetrics fm(browser.StatusLine() ? browser.StatusLine()->font() : QFont());
    TdfsBrowseDirectoryDlg dlg;
    dlg.ShowSelectionInStatus = true;

    // A folder shortens by path.
    browser.SetStatusWidth(fm.horizontalAdvance(QStringLiteral("/.../bbbbbbbbbbbb/cccccccccccc/")));
    dlg.SetSelection(deep);
    dlg.ShowDialog();
    ASSERT_FALSE(browser.StatusTexts.isEmpty());
    EXPECT_EQ(browser.StatusTexts.front(), QStringLiteral("/.../bbbbbbbbbbbb/cccccccccccc/"));

    // Other text shortens at the end.
    const QString text = QStringLiteral("Choose a folder for the ripped files");
    browser.SetStatusWidth(fm.horizontalAdvance(QStringLiteral("Choose a...")));
    dlg.ShowSelectionInStatus = false;
    dlg.SetStatusText(text);
    dlg.ShowDialog();
    ASSERT_FALSE(browser.StatusTexts.isEmpty());
    EXPECT_EQ(browser.StatusTexts.front(), QStringLiteral("Choose a..."));

    // Unless fitting is off.
    dlg.SetFitStatusText(false);
    dlg.ShowDialog();
    EXPECT_EQ(browser.StatusTexts.front(), text);
}

TEST(BrowseDr, FolderExistsKnowsRootsAndTrailingSeparators)
{
    Folders f;
    EXPECT_TRUE(FolderExists(QStringLiteral("/")));
    EXPECT_TRUE(FolderExists(f.Path(QStringLiteral("Music"))));
    EXPECT_TRUE(FolderExists(f.Path(QStringLiteral("Music/"))));
    EXPECT_FALSE(FolderExists(f.Path(QStringLiteral("Nowhere"))));
    EXPECT_FALSE(FolderExists(QString()));
    QFile file(f.Path(QStringLiteral("file.txt")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_FALSE(FolderExists(file.fileName()));
}

TEST(FolderBrowser, ListsVisibleSubfoldersAndSelectsByPath)
{
    Folders f;
    TBrowseInfo info;
    info.Root = ParseDisplayName(f.Path());
    info.Flags = BIF_STATUSTEXT | BIF_EDITBOX | BIF_VALIDATE | BIF_NEWDIALOGSTYLE;
    TFolderBrowserWindow window(info);
    QTreeWidget* tree = window.Tree();
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* root = tree->topLevelItem(0);
    ASSERT_EQ(root->childCount(), 2);
    EXPECT_EQ(root->child(0)->text(0), QStringLiteral("alpha"));
    EXPECT_EQ(root->child(1)->text(0), QStringLiteral("Music"));
    ASSERT_NE(window.StatusLine(), nullptr);

    window.SetSelectionPath(f.Path(QStringLiteral("Music/Rock")));
    ASSERT_TRUE(window.CurrentItem().has_value());
    EXPECT_EQ(window.CurrentItem()->Path, f.Path(QStringLiteral("Music/Rock")));
    // A folder not there yet selects the nearest one that is.
    window.SetSelectionPath(f.Path(QStringLiteral("alpha/later/on")));
    EXPECT_EQ(window.CurrentItem()->Path, f.Path(QStringLiteral("alpha")));

    // A new folder is made in the selected one and named in place.
    window.MakeNewFolder();
    EXPECT_TRUE(QFileInfo(f.Path(QStringLiteral("alpha/New Folder"))).isDir());
    tree->currentItem()->setText(0, QStringLiteral("Rips"));
    EXPECT_TRUE(QFileInfo(f.Path(QStringLiteral("alpha/Rips"))).isDir());
    EXPECT_EQ(window.CurrentItem()->Path, f.Path(QStringLiteral("alpha/Rips")));
    EXPECT_EQ(window.EditBox()->text(), QStringLiteral("Rips"));
}

TEST(FolderBrowser, RunsTheComponentEndToEnd)
{
    Folders f;
    TdfsBrowseDirectoryDlg dlg;
    dlg.Root = idDesktop;
    dlg.SetOptions(bfNewDialogStyle | bfEditBox);
    dlg.ShowSelectionInStatus = true;
    dlg.SetSelection(f.Path(QStringLiteral("Music")));

    // The user types a subfolder's name into the edit box and presses OK.
    QTimer::singleShot(0, [&] {
        TFolderBrowserWindow* window = OpenBrowser();
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window->CurrentItem()->Path, f.Path(QStringLiteral("Music")));
        window->EditBox()->setText(QStringLiteral("Rock"));
        window->accept();
    });
    ASSERT_TRUE(dlg.ShowDialog());
    EXPECT_EQ(dlg.Selection(), f.Path(QStringLiteral("Music/Rock")));

    // A name that is not there fails validation; the handler cancels the browser.
    bool failed = false;
    dlg.OnValidateFailed = [&](QObject*, const QString&, bool& cancel) {
        failed = true;
        cancel = true;
    };
    QTimer::singleShot(0, [&] {
        TFolderBrowserWindow* window = OpenBrowser();
        ASSERT_NE(window, nullptr);
        window->EditBox()->setText(QStringLiteral("Nowhere"));
        window->accept();
    });
    EXPECT_FALSE(dlg.ShowDialog());
    EXPECT_TRUE(failed);
}
