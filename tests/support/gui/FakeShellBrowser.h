#pragma once

#include "controls/ShellBrowser.h"

#include <QLabel>
#include <QList>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

// Stands in for the folder browser window: records the request and every message sent to the
// open browser, and lets a test play the user. Installs itself as the process's browser while
// alive.
class TFakeShellBrowser final : public IShellBrowser, public IBrowserWindow
{
public:
    TFakeShellBrowser();
    ~TFakeShellBrowser() override;

    // The user's part, run after the browser was initialised: returns the item chosen, or none
    // to cancel. Unset, the browser is cancelled.
    std::function<std::optional<TShellItem>(TFakeShellBrowser& browser)> User;
    // The image index the browser reports for the chosen item.
    int ReportedImage = -1;

    // The user highlights `item` (nullptr: an item without a path).
    void Highlight(const TShellItem* item);
    // The user typed `text` that is not a folder; returns the callback's answer.
    int ValidateFailed(const QString& text);

    // The status line is there when the request asks for one; its width is set here.
    void SetStatusWidth(int width);

    TBrowseResult BrowseForFolder(const TBrowseInfo& info) override;

    void EnableOK(bool enable) override { EnableOKs.append(enable); }
    void SetStatusText(const QString& text) override { StatusTexts.append(text); }
    void SetSelectionPath(const QString& path) override { SelectedPaths.append(path); }
    void SetSelectionItem(const TShellItem& item) override { SelectedItems.append(item); }
    QString WindowText() const override { return Text; }
    void SetWindowText(const QString& text) override { Text = text; }
    QRect WindowRect() const override { return Rect; }
    void MoveWindow(const QPoint& topLeft) override { Rect.moveTopLeft(topLeft); }
    QSize ScreenSize() const override { return Screen; }
    const QWidget* StatusLine() const override;

    // What the last showing was asked for and sent.
    int Shown = 0;
    TBrowseInfo Info;
    QList<bool> EnableOKs;
    QStringList StatusTexts;
    QStringList SelectedPaths;
    QList<TShellItem> SelectedItems;
    QString Text = QStringLiteral("Browse for Folder");
    QRect Rect{10, 20, 400, 300};
    QSize Screen{1025, 768};

private:
    std::unique_ptr<QLabel> FStatus;
};
