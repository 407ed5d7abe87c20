#include "Text.h"

#include <QCoreApplication>

#include <utility>

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

FText FText::Format(FText Pattern, QStringList Arguments)
{
	Pattern.Arguments = std::move(Arguments);
	return Pattern;
}

namespace
{
// One pass over the pattern, so that an argument that itself reads "{1}" stays as it is.
QString FillArguments(const QString& Pattern, const QStringList& Arguments)
{
	if (Arguments.isEmpty())
	{
		return Pattern;
	}
	QString Out;
	Out.reserve(Pattern.size());
	qsizetype Pos = 0;
	while (Pos < Pattern.size())
	{
		if (Pattern.at(Pos) == QLatin1Char('{'))
		{
			qsizetype End = Pos + 1;
			while (End < Pattern.size() && Pattern.at(End).isDigit())
			{
				++End;
			}
			bool bNumber = false;
			const qsizetype Index = Pattern.mid(Pos + 1, End - Pos - 1).toLongLong(&bNumber);
			if (bNumber && End < Pattern.size() && Pattern.at(End) == QLatin1Char('}') && Index < Arguments.size())
			{
				Out += Arguments.at(Index);
				Pos = End + 1;
				continue;
			}
		}
		Out += Pattern.at(Pos);
		++Pos;
	}
	return Out;
}
} // namespace

QString FText::ToString() const
{
	if (Namespace.isEmpty())
	{
		return FillArguments(Source, Arguments);
	}
	return FillArguments(QCoreApplication::translate(Namespace.constData(), SourceBytes.constData(), Key.constData()),
	                     Arguments);
}

QString FText::BuildSourceString() const
{
	return FillArguments(Source, Arguments);
}
