#pragma once

#include "Json.h"
#include "OrvaScriptValue.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <algorithm>

namespace OrvaScript
{
// Values that must never reach a log or the output: the password given to `Login`, the access
// token, and whatever a result holds under a key that names a password, token or secret. Lines
// are echoed and logged only through Apply.
class FSecretMask
{
public:
	void Add(const QString& Secret)
	{
		if (!Secret.isEmpty() && !Secrets.contains(Secret))
		{
			Secrets.append(Secret);
			// Longer first, so a secret that contains another is masked whole.
			std::sort(Secrets.begin(), Secrets.end(),
			          [](const QString& A, const QString& B) { return A.size() > B.size(); });
		}
	}

	// A secret as it stands in a script line (a JSON literal, escapes and all) and as its value.
	void AddLiteral(const QString& Token)
	{
		Add(Token);
		QJsonValue Json;
		QString Error;
		if (ParseJson(Token, Json, Error) && Json.isString())
		{
			Add(Json.toString());
			// Its JSON form too: that is how it appears in printed results.
			const QString Quoted = FJson::Quote(Json.toString());
			Add(Quoted.mid(1, Quoted.size() - 2));
		}
	}

	static bool IsSecretName(const QString& Name)
	{
		const QString Lower = Name.toLower();
		return Lower.contains(QLatin1String("password")) || Lower.contains(QLatin1String("token")) ||
		       Lower.contains(QLatin1String("secret")) || Lower == QLatin1String("pwd");
	}

	// Collects the strings held under secret names anywhere in Json (all of it when bSecret).
	void AddFromJson(const QJsonValue& Json, bool bSecret)
	{
		if (Json.isString() && bSecret)
		{
			const QString Text = Json.toString();
			Add(Text);
			const QString Quoted = FJson::Quote(Text);
			Add(Quoted.mid(1, Quoted.size() - 2));
			if (Text.startsWith(QLatin1String("Bearer ")))
			{
				Add(Text.mid(7));
			}
		}
		else if (Json.isArray())
		{
			for (const QJsonValue Element : Json.toArray())
			{
				AddFromJson(Element, bSecret);
			}
		}
		else if (Json.isObject())
		{
			const QJsonObject Object = Json.toObject();
			for (auto It = Object.begin(); It != Object.end(); ++It)
			{
				AddFromJson(It.value(), bSecret || IsSecretName(It.key()));
			}
		}
	}

	QString Apply(QString Line) const
	{
		for (const QString& Secret : Secrets)
		{
			Line.replace(Secret, QStringLiteral("****"));
		}
		return Line;
	}

private:
	QStringList Secrets;
};
} // namespace OrvaScript
