// The automation script parser on arbitrary text: each line split as the runner splits it, each
// word read as a JSON value and as a property path, and each JSON value converted to the types
// operations take and back.
#include "FuzzSupport.h"
#include "OrvaSDKSubsystem.h"
#include "OrvaScriptRunner.h"
#include "OrvaScriptValue.h"

#include <QMetaType>

#include <cstdlib>

using namespace OrvaScript;

namespace
{
const QList<QMetaType>& Types()
{
	static const QList<QMetaType> All = {
	    QMetaType::fromType<QString>(),
	    QMetaType::fromType<bool>(),
	    QMetaType::fromType<int>(),
	    QMetaType::fromType<qint64>(),
	    QMetaType::fromType<float>(),
	    QMetaType::fromType<QStringList>(),
	    QMetaType::fromType<FSoftObjectPath>(),
	    QMetaType::fromType<EOrvaSDKProgress>(),
	    QMetaType::fromType<FWorkspaceData>(),
	    QMetaType::fromType<FOrvaWorldData>(),
	    QMetaType::fromType<QList<FOrvaImageData>>(),
	};
	return All;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
	FFuzz::App();
	const QString Text = QString::fromUtf8(FFuzz::Bytes(Data, Size));
	for (const QString& Line : Text.split(QLatin1Char('\n')).mid(0, 32))
	{
		QStringList Tokens;
		QString Error;
		if (!FOrvaScriptRunner::SplitLine(Line, Tokens, Error))
		{
			continue;
		}
		for (const QString& Token : Tokens)
		{
			QString Head;
			QList<FPathStep> Steps;
			if (ParsePath(Token, Head, Steps, Error))
			{
				(void)PathText(Head, Steps);
			}
			QJsonValue Json;
			if (!ParseJson(Token, Json, Error))
			{
				continue;
			}
			// A value read back into JSON and compared with what it came from.
			for (const QMetaType& Type : Types())
			{
				QVariant Value;
				if (!FromJson(Json, Type, Value, Error))
				{
					continue;
				}
				QString Out;
				QJsonValue Back;
				bool bEqual = false;
				if (ToJsonText(Value, Out, Error) && ToJson(Value, Back, Error))
				{
					JsonEquals(Value, Back, Error, bEqual);
					if (!bEqual)
					{
						std::abort();
					}
				}
				// Navigating a value by the steps of any path the input holds.
				QVariant Reached;
				if (!Steps.isEmpty())
				{
					Navigate(Value, Steps, Reached, Error);
					QVariant Root = Value;
					AssignAt(Root, Steps, QVariant::fromValue(Json), Error);
				}
			}
		}
	}
	return 0;
}
