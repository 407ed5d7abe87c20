#pragma once

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>

#include <memory>

// The engine-style INI cache: files are loaded on first use, edited in memory and written back
// by Flush. Section and key names compare ignoring case, as the engine's do; values are kept
// exactly. A missing file reads as empty. See docs/ConfigFormat.md for the text form.
class FConfigCache
{
public:
	FConfigCache();
	// Writes every file that changed and was not flushed yet.
	~FConfigCache();
	FConfigCache(const FConfigCache&) = delete;
	FConfigCache& operator=(const FConfigCache&) = delete;

	bool GetString(const QString& Section, const QString& Key, QString& OutValue, const QString& Filename);
	void SetString(const QString& Section, const QString& Key, const QString& Value, const QString& Filename);

	// "True"/"False" on write; on read "true", "yes", "on" and "1" (any case) are true.
	bool GetBool(const QString& Section, const QString& Key, bool& OutValue, const QString& Filename);
	void SetBool(const QString& Section, const QString& Key, bool Value, const QString& Filename);

	// Display texts, written in their text form (INVTEXT("...") for culture-invariant text);
	// NSLOCTEXT("Ns", "Key", "Source") and raw strings are read as well.
	bool GetText(const QString& Section, const QString& Key, QString& OutValue, const QString& Filename);
	void SetText(const QString& Section, const QString& Key, const QString& Value, const QString& Filename);

	// Array values: every value of the key in file order (plain, "+", "." lines; "-" removes,
	// "!Key=ClearArray" clears).
	bool GetArray(const QString& Section, const QString& Key, QStringList& OutValues, const QString& Filename);

	bool RemoveKey(const QString& Section, const QString& Key, const QString& Filename);
	bool EmptySection(const QString& Section, const QString& Filename);
	QStringList GetSectionNames(const QString& Filename);

	// Writes the file if it changed since it was loaded or flushed, atomically (a temporary file
	// renamed over the old one). With bRemoveFromCache the file is dropped from memory afterwards.
	// Returns false, with an error line, when the file cannot be written.
	bool Flush(bool bRemoveFromCache, const QString& Filename);

	// Files marked private are written readable and writable by their owner only.
	void MarkPrivate(const QString& Filename);

	// Forgets a file without writing it (the next read loads it from disk again).
	void Unload(const QString& Filename);

	// The engine's value escaping rules, exposed for tests and for other writers.
	static QString QuoteValueIfNeeded(const QString& Value);
	static QString UnquoteValue(const QString& Raw);

private:
	struct FFile;
	FFile& Find(const QString& Filename);
	QHash<QString, std::shared_ptr<FFile>> Files;
	QHash<QString, bool> PrivateFiles;
};
