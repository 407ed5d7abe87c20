#include "OrvaScriptLexer.h"

namespace OrvaScript
{
bool SplitTokens(const QString& Text, QStringList& OutTokens, QString& OutError)
{
	qsizetype Position = 0;
	while (true)
	{
		while (Position < Text.size() && Text[Position].isSpace())
		{
			++Position;
		}
		if (Position >= Text.size())
		{
			return true;
		}
		const qsizetype Start = Position;
		const QChar First = Text[Position];
		if (First == QLatin1Char('"') || First == QLatin1Char('{') || First == QLatin1Char('['))
		{
			int Depth = 0;
			bool bInString = false;
			bool bDone = false;
			for (; Position < Text.size() && !bDone; ++Position)
			{
				const QChar Ch = Text[Position];
				if (bInString)
				{
					if (Ch == QLatin1Char('\\'))
					{
						++Position;
					}
					else if (Ch == QLatin1Char('"'))
					{
						bInString = false;
						bDone = Depth == 0;
					}
				}
				else if (Ch == QLatin1Char('"'))
				{
					bInString = true;
				}
				else if (Ch == QLatin1Char('{') || Ch == QLatin1Char('['))
				{
					++Depth;
				}
				else if (Ch == QLatin1Char('}') || Ch == QLatin1Char(']'))
				{
					bDone = --Depth == 0;
				}
			}
			if (!bDone)
			{
				OutError = QStringLiteral("unterminated JSON value %1").arg(Text.mid(Start));
				return false;
			}
		}
		else
		{
			while (Position < Text.size() && !Text[Position].isSpace())
			{
				++Position;
			}
		}
		OutTokens.append(Text.mid(Start, Position - Start));
	}
}

QString StripComment(const QString& Line)
{
	bool bInString = false;
	for (qsizetype Index = 0; Index < Line.size(); ++Index)
	{
		const QChar Ch = Line[Index];
		if (bInString)
		{
			if (Ch == QLatin1Char('\\'))
			{
				++Index;
			}
			else if (Ch == QLatin1Char('"'))
			{
				bInString = false;
			}
		}
		else if (Ch == QLatin1Char('"'))
		{
			bInString = true;
		}
		else if (Ch == QLatin1Char('#'))
		{
			return Line.left(Index);
		}
	}
	return Line;
}
} // namespace OrvaScript
