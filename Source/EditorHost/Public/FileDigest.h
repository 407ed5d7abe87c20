#pragma once

#include "Digest.h"

#include <QByteArray>
#include <QString>

// The raw digest of Length bytes at Offset of the file, or of everything from Offset on when
// Length is negative. Read in pieces, so that files larger than memory hash in little of it;
// empty when those bytes cannot all be read.
QByteArray DigestOfFile(EDigestKind Kind, const QString& Path, qint64 Offset = 0, qint64 Length = -1);
