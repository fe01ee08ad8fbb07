#include "cli/Disc.h"

#include "app/DiscTitles.h"
#include "app/globals.h"
#include "cd/CDRIP.h"
#include "cli/CommandLine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtGlobal>

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

bool IsDriveNumber(const QString& text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) {
        return c.unicode() >= '0' && c.unicode() <= '9';
    });
}

} // namespace

TDisc::TDisc(const QString& drive, const QByteArray& path)
{
    QString imageName;
    QByteArray image;
    if (!drive.isEmpty() && !IsDriveNumber(drive)) {
        image = path.isEmpty() ? QFile::encodeName(drive) : path;
        struct stat st;
        if (::stat(image.constData(), &st) != 0)
            throw EUsageError(u"--drive '%1': there is no such disc image or device"_s.arg(drive));
        if (!image.startsWith('/'))
            image = QFile::encodeName(QDir::currentPath()) + '/' + image;
        // The library lists the drives named in CDRIP_DRIVES after the physical ones; ours goes
        // first among them, so it is the first drive that carries its name.
        const QByteArray others = qgetenv("CDRIP_DRIVES");
        QByteArray list = image;
        if (!others.isEmpty())
            list += ':' + others;
        qputenv("CDRIP_DRIVES", list);
        imageName = QFile::decodeName(image.mid(image.lastIndexOf('/') + 1));
    }

    FRipper = std::make_unique<TCDRIP>();
    // What the library could not use is told, as the window tells it; the --drive image's own
    // reason goes into the error that ends the command.
    const QString ownProblem =
        image.isEmpty() ? QString()
                        : u"CDRIP_DRIVES: %1 cannot be used: "_s.arg(QFile::decodeName(image));
    QString reason;
    for (const QString& problem : FRipper->DriveProblems()) {
        if (!ownProblem.isEmpty() && reason.isEmpty() && problem.startsWith(ownProblem))
            reason = problem.mid(ownProblem.size());
        else
            std::fprintf(stderr, "tarvik: %s\n", problem.toLocal8Bit().constData());
    }
    const int32_t count = FRipper->GetDriveCount();
    for (int32_t i = 0; i < count; ++i) {
        FRipper->SetCDRomNum(i);
        FNames << QString::fromUtf8(FRipper->DriveID);
    }

    if (!imageName.isEmpty()) {
        FNumber = int(FNames.indexOf(imageName));
        if (FNumber < 0)
            throw EUsageError(u"--drive '%1': cannot be opened as a disc image or drive%2"_s.arg(
                drive, reason.isEmpty() ? QString() : u": "_s + reason));
    } else if (!drive.isEmpty()) {
        bool ok = false;
        FNumber = drive.toInt(&ok);
        if (!ok || FNumber >= FNames.size()) {
            throw EUsageError(
                FNames.isEmpty()
                    ? u"--drive '%1': no drive was found"_s.arg(drive)
                    : u"--drive '%1': there is no drive %1 (the drives are 0 to %2)"_s.arg(drive)
                          .arg(FNames.size() - 1));
        }
    }
}

TDisc::~TDisc() = default;

void TDisc::Load()
{
    FRipper->SetCDRomNum(FNumber);
}

QStringList TDisc::Titles() const
{
    QString artist, album, year, genre;
    QStringList albumTitles;
    if (!FRipper->Tracks.empty())
        ReadAlbumInfo(FRipper->GetDiscID(), artist, album, year, genre, albumTitles);
    QStringList titles;
    for (int i = 0; i < int(FRipper->Tracks.size()); ++i) {
        const auto& [defaultTitle, track] = FRipper->Tracks[size_t(i)];
        titles << DiscRowTitle(albumTitles, i, track->CDTextTitle, defaultTitle);
    }
    return titles;
}
