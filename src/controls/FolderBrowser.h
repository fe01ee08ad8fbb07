#pragma once

#include "controls/ShellBrowser.h"

#include <QDialog>
#include <optional>

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// The folder browser window: the request's title above a tree of folders from the chosen root,
// an optional status line and edit box, and OK and Cancel. With the desktop as root the tree
// starts with the user's home folder, then the desktop, mounted volumes and the whole file
// system. Folders are listed when first opened, hidden ones left out.
class TFolderBrowserWindow final : public QDialog, public IBrowserWindow
{
    Q_OBJECT

public:
    explicit TFolderBrowserWindow(const TBrowseInfo& info);
    ~TFolderBrowserWindow() override;

    // Runs the browser modally, the callback's notifications included.
    TBrowseResult Run();

    void EnableOK(bool enable) override;
    void SetStatusText(const QString& text) override;
    void SetSelectionPath(const QString& path) override;
    void SetSelectionItem(const TShellItem& item) override;
    QString WindowText() const override;
    void SetWindowText(const QString& text) override;
    QRect WindowRect() const override;
    void MoveWindow(const QPoint& topLeft) override;
    QSize ScreenSize() const override;
    const QWidget* StatusLine() const override;

    // The selected item, if any.
    std::optional<TShellItem> CurrentItem() const;
    QTreeWidget* Tree() const { return FTree; }
    QLineEdit* EditBox() const { return FEdit; }

    // Creates a new folder in the selected one and starts renaming it.
    void MakeNewFolder();

    // OK: the selected folder, or the one the edit box names.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QTreeWidgetItem* AddItem(QTreeWidgetItem* parent, const QString& path, const QString& name,
                             const QIcon& icon);
    void Populate(QTreeWidgetItem* item);
    QTreeWidgetItem* FindPath(const QString& path);
    void SelectionChanged();
    void ItemRenamed(QTreeWidgetItem* item);
    int Notify(int msg, const TBrowseParam& param);

    TBrowseInfo FInfo;
    QLabel* FTitle = nullptr;
    QLabel* FStatus = nullptr;
    QTreeWidget* FTree = nullptr;
    QLineEdit* FEdit = nullptr;
    QPushButton* FNewFolder = nullptr;
    QDialogButtonBox* FButtons = nullptr;
    std::optional<TShellItem> FChosen;
    bool FInitialized = false;
    bool FRenaming = false;
    QTreeWidgetItem* FEditing = nullptr; // the new folder being named
};
