#pragma once

#include <QByteArray>
#include <QString>

#include <ostream>

// Readable failure messages for Qt strings in GoogleTest assertions.
inline void PrintTo(const QString& Text, std::ostream* Out)
{
	*Out << '"' << Text.toStdString() << '"';
}
inline void PrintTo(const QByteArray& Bytes, std::ostream* Out)
{
	*Out << '"' << Bytes.toStdString() << '"';
}
