#include "support/gui/FakeShellBrowser.h"

TFakeShellBrowser::TFakeShellBrowser() : FStatus(std::make_unique<QLabel>())
{
    FStatus->resize(300, 16);
    SetShellBrowser(this);
}

TFakeShellBrowser::~TFakeShellBrowser()
{
    SetShellBrowser(nullptr);
}

void TFakeShellBrowser::Highlight(const TShellItem* item)
{
    TBrowseParam param;
    param.Item = item;
    if (Info.Callback != nullptr)
        Info.Callback(this, BFFM_SELCHANGED, param, Info.Data);
}

int TFakeShellBrowser::ValidateFailed(const QString& text)
{
    TBrowseParam param;
    param.Text = text;
    return Info.Callback != nullptr ? Info.Callback(this, BFFM_VALIDATEFAILED, param, Info.Data)
                                    : 0;
}

void TFakeShellBrowser::SetStatusWidth(int width)
{
    FStatus->resize(width, FStatus->height());
}

const QWidget* TFakeShellBrowser::StatusLine() const
{
    return (Info.Flags & BIF_STATUSTEXT) != 0 ? FStatus.get() : nullptr;
}

TBrowseResult TFakeShellBrowser::BrowseForFolder(const TBrowseInfo& info)
{
    Info = info;
    ++Shown;
    EnableOKs.clear();
    StatusTexts.clear();
    SelectedPaths.clear();
    SelectedItems.clear();
    if (Info.Callback != nullptr)
        Info.Callback(this, BFFM_INITIALIZED, {}, Info.Data);
    TBrowseResult result;
    result.Item = User ? User(*this) : std::nullopt;
    if (result.Item) {
        result.DisplayName = result.Item->DisplayName;
        result.Image = ReportedImage;
    }
    return result;
}
