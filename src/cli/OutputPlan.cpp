#include "cli/OutputPlan.h"

#include "cd/CDRIP.h"
#include "mp3/MP3Info.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

void TOutputPlan::SetFolder(const QString& folder)
{
    QString path = folder.trimmed();
    if (path == u"~"_s || path.startsWith(u"~/"_s))
        path = QDir::homePath() + path.mid(1);
    if (path.isEmpty() || QDir::isRelativePath(path))
        throw Exception(u"The output folder \"%1\" is not a full path: choose an output folder in "
                        "the options, or give one with --out"_s.arg(folder));
    if (!QDir().mkpath(path))
        throw Exception(u"The output folder %1 cannot be made"_s.arg(path));
    FFolder = QDir::cleanPath(path);
}

QString TOutputPlan::NameFor(const QString& title, bool mp3)
{
    const QString base = title.trimmed();
    const QString extension = mp3 ? u".mp3"_s : u".wav"_s;
    const QString plain = FFolder + u'/' + base + extension;
    if (base.isEmpty() || base == u"."_s || base == u".."_s || base.contains(u'/'))
        throw EFCreateError(plain);
    QString name = plain;
    for (int n = 2; FWritten.contains(name); ++n)
        name = FFolder + u'/' + base + u" (%1)"_s.arg(n) + extension;
    return name;
}

bool TOutputPlan::Exists(const QString& name)
{
    const QFileInfo info(name);
    return info.exists() || info.isSymLink();
}

bool TOutputPlan::Rip(TCDRIP& ripper, int trackNum, const QString& name, TMP3Info* tag,
                      const QString& title)
{
    FWritten.insert(name);
    if (Exists(name))
        QFile::remove(name);
    try {
        ripper.RipTrack(trackNum, name);
        if (ripper.LastFileName().isEmpty())
            return false;
        if (tag != nullptr) {
            tag->SetFilename(ripper.LastFileName());
            tag->SetTitle(title);
            tag->Save();
            if (!tag->Saved())
                throw EInOutError(tag->Error());
        }
        return true;
    } catch (...) {
        QFile::remove(name);
        throw;
    }
}
