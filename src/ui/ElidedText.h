#pragma once

#include <QString>

class QFont;

// `text` broken into lines of at most `width` pixels in `font` (at blanks, or anywhere in a word
// too long for a line), joined by "\n". When it needs more than `lines` lines its middle gives
// way to "…", so that its beginning and its end (a file's extension, say) still show.
QString ElideMiddleLines(const QString& text, const QFont& font, int width, int lines);
