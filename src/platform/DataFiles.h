#pragma once

#include <QString>
#include <QStringList>

// The files Tarvik ships beside itself: the demo disc, the skin pictures, the manual.
// In a build tree they sit beside the executable; once installed, in share/tarvik.

// The folders searched, in order: the executable's own folder, ../share/tarvik next to it, and
// the installed data folder this build was configured for.
QStringList DataFolders();

// The full path of `relative` in the first data folder that holds it; empty when none does.
QString FindDataFile(const QString& relative);
