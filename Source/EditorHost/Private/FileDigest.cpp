#include "FileDigest.h"

#include <QFile>

QByteArray DigestOfFile(EDigestKind Kind, const QString& Path, qint64 Offset, qint64 Length)
{
	QFile File(Path);
	if (Offset < 0 || !File.open(QIODevice::ReadOnly) || (Offset > 0 && !File.seek(Offset)))
	{
		return {};
	}
	FDigest Digest(Kind);
	constexpr qint64 ChunkSize = 1024 * 1024;
	QByteArray Buffer(qsizetype(Length < 0 ? ChunkSize : qMin(Length, ChunkSize)), Qt::Uninitialized);
	qint64 Left = Length;
	while (Length < 0 || Left > 0)
	{
		const qint64 Want = Length < 0 ? qint64(Buffer.size()) : qMin<qint64>(Left, Buffer.size());
		const qint64 Read = File.read(Buffer.data(), Want);
		if (Read < 0 || (Read == 0 && Length >= 0))
		{
			return {};
		}
		if (Read == 0)
		{
			break;
		}
		Digest.Update(Buffer.constData(), size_t(Read));
		Left -= Read;
	}
	return Digest.Final<QByteArray>();
}
