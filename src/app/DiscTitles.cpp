#include "app/DiscTitles.h"

QString DiscRowTitle(const QStringList& albumTitles, int row, const QString& cdTextTitle,
                     const QString& defaultTitle)
{
    const bool inFile = row >= 0 && row < albumTitles.size();
    if (inFile && !albumTitles.at(row).isEmpty())
        return albumTitles.at(row);
    if (!cdTextTitle.isEmpty())
        return cdTextTitle;
    // An entry the file counts but leaves empty still empties the row, as a read always has.
    return inFile ? albumTitles.at(row) : defaultTitle;
}
