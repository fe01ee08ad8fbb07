#pragma once

#include <QString>
#include <QStringList>

// The title row `row` of a disc gets when the disc is loaded. `albumTitles` is what the album
// information file gave for the disc (ReadAlbumInfo's TrackNames); `cdTextTitle` the disc's
// own CD-Text title for the row's track (empty for a data track or a disc without CD-Text);
// `defaultTitle` what the row holds otherwise ("Track01", ...). A title stored in the album
// information file always wins; the disc's own title fills the rows the file says nothing
// about, so a disc with CD-Text shows real titles before anyone has typed them.
QString DiscRowTitle(const QStringList& albumTitles, int row, const QString& cdTextTitle,
                     const QString& defaultTitle);
