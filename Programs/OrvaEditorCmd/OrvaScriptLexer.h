#pragma once

#include <QString>
#include <QStringList>

// How a script line is read: its comment dropped, then split into words and JSON values.
namespace OrvaScript
{
// Splits a line into words and JSON values: a quoted string, a bracketed object or array (strings
// inside honoured), or anything else up to the next blank. False, with a reason, for an
// unterminated value.
bool SplitTokens(const QString& Text, QStringList& OutTokens, QString& OutError);
// The line up to its first "#" outside a quoted string.
QString StripComment(const QString& Line);
} // namespace OrvaScript
