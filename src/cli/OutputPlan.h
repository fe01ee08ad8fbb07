#pragma once

#include <QSet>
#include <QString>

class TCDRIP;
class TMP3Info;

// Where a command-line rip puts its files: the output folder, one name per track, and the
// writing of each file.
class TOutputPlan
{
public:
    // Checks and makes the output folder. Raises Exception with the reason when it cannot be
    // used.
    void SetFolder(const QString& folder);
    // The file of a track titled `title`; never a name this run wrote already. Raises
    // EFCreateError for a title that cannot be a file name.
    QString NameFor(const QString& title, bool mp3);
    // Whether `name` would replace a file that is already there.
    static bool Exists(const QString& name);
    // Rips track `trackNum` (from 1) to `name` and, when `tag` is given, tags it with `title`.
    // Returns false when the library refused the track (no file is made). A track that fails
    // leaves no file.
    bool Rip(TCDRIP& ripper, int trackNum, const QString& name, TMP3Info* tag,
             const QString& title);

private:
    QString FFolder;
    QSet<QString> FWritten;
};
