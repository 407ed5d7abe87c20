#include "Text.h"

#include <QCoreApplication>

FText FText::FromString(const QString& Text)
{
	FText Result;
	Result.Source = Text;
	return Result;
}

FText FText::Localized(const char* Namespace, const char* Key, const char* Source)
{
	FText Result;
	Result.Namespace = QByteArray(Namespace);
	Result.Key = QByteArray(Key);
	Result.SourceBytes = QByteArray(Source);
	Result.Source = QString::fromUtf8(Result.SourceBytes);
	return Result;
}

QString FText::ToString() const
{
	if (Namespace.isEmpty())
	{
		return Source;
	}
	return QCoreApplication::translate(Namespace.constData(), SourceBytes.constData(), Key.constData());
}
