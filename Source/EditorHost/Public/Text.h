#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// A localisable display text: a namespace, a key and the source text. It is looked up through
// Qt's translators each time it is shown, with the namespace as the translation context and the
// key as the disambiguation, so a translation is written with Qt's own tools (a .ts file whose
// message has that context, source and comment) and installed with a QTranslator. It lives in the
// host's core, without widgets, so that the headless parts (subsystems, transfers) word what they
// report the same way the views do.
class FText
{
public:
	FText() = default;

	// A text that is never translated.
	static FText FromString(const QString& Text);
	static FText Localized(const char* Namespace, const char* Key, const char* Source);
	// The pattern with "{0}", "{1}", ... replaced by the arguments, in whatever language the
	// pattern is shown. The arguments themselves are not translated.
	static FText Format(FText Pattern, QStringList Arguments);

	// The text in the current language.
	QString ToString() const;
	bool IsEmpty() const { return ToString().isEmpty(); }
	bool IsCultureInvariant() const { return Namespace.isEmpty(); }

	const QByteArray& GetNamespace() const { return Namespace; }
	const QByteArray& GetKey() const { return Key; }
	QString GetSourceString() const { return Source; }
	// The source text with the arguments filled in: what a log line shows, whatever the language.
	QString BuildSourceString() const;

	bool operator==(const FText& Other) const = default;

private:
	QByteArray Namespace;
	QByteArray Key;
	QString Source;
	// The source as given, kept so that translators can match it byte for byte.
	QByteArray SourceBytes;
	QStringList Arguments;
};

#define NSLOCTEXT(Namespace, Key, Source) FText::Localized(Namespace, Key, Source)
// Needs LOCTEXT_NAMESPACE defined in the source file.
#define LOCTEXT(Key, Source) FText::Localized(LOCTEXT_NAMESPACE, Key, Source)
