#pragma once

#include <QString>

class FConfigCache;

// Settings declared once: each key of a settings file is one constant that names its section and
// key as stored files spell them, says how the value is stored and what it is when the file has
// none. Code reads and writes the key through that constant and never spells the names again.
// The constants are literal types, so a declaration costs nothing at start-up.

struct FConfigSection
{
	const char* Name;

	QString ToString() const { return QString::fromLatin1(Name); }
};

// How a value stands in its line (docs/ConfigFormat.md).
enum class EConfigForm
{
	// As it is, quoted where the dialect needs it.
	String,
	// A display text: INVTEXT("...") on write; NSLOCTEXT, LOCTEXT and plain strings read too.
	Text,
	// "True" / "False".
	Bool,
	// A decimal whole number.
	WholeNumber,
};

// What reading a whole number found.
enum class EConfigRead
{
	Absent,
	Valid,
	// Present, but not a whole number at or above the key's minimum.
	Invalid,
};

// The part every key shares: where it is, and how its value is stored.
class FConfigKey
{
public:
	constexpr FConfigKey(FConfigSection InSection, const char* InKey, EConfigForm InForm)
	    : Section(InSection)
	    , Key(InKey)
	    , Form(InForm)
	{
	}

	QString SectionName() const { return Section.ToString(); }
	QString KeyName() const { return QString::fromLatin1(Key); }
	EConfigForm GetForm() const { return Form; }
	const FConfigSection& GetSection() const { return Section; }

	// The value as the file holds it (quotes and escapes undone, a text not unwrapped); false
	// when the file has no such key.
	bool ReadStored(FConfigCache& Config, const QString& File, QString& OutStored) const;
	bool Remove(FConfigCache& Config, const QString& File) const;

protected:
	// The stored value when there is a valid one, else Fallback.
	template <class TSetting, class TValue>
	static TValue ReadOr(const TSetting& Setting, FConfigCache& Config, const QString& File, TValue Fallback)
	{
		Setting.Read(Config, File, Fallback);
		return Fallback;
	}

	FConfigSection Section;
	const char* Key;
	EConfigForm Form;
};

class FConfigStringSetting : public FConfigKey
{
public:
	constexpr FConfigStringSetting(FConfigSection InSection, const char* InKey, const char* InDefault = "")
	    : FConfigKey(InSection, InKey, EConfigForm::String)
	    , DefaultValue(InDefault)
	{
	}

	// False, with OutValue untouched, when the file has no value.
	bool Read(FConfigCache& Config, const QString& File, QString& OutValue) const;
	// The stored value, or the default when the file has none.
	QString Get(FConfigCache& Config, const QString& File) const { return ReadOr(*this, Config, File, Default()); }
	void Set(FConfigCache& Config, const QString& File, const QString& Value) const;
	QString Default() const { return QString::fromUtf8(DefaultValue); }

private:
	const char* DefaultValue;
};

class FConfigTextSetting : public FConfigKey
{
public:
	constexpr FConfigTextSetting(FConfigSection InSection, const char* InKey)
	    : FConfigKey(InSection, InKey, EConfigForm::Text)
	{
	}

	// The text's string; false, with OutValue untouched, when the file has no value.
	bool Read(FConfigCache& Config, const QString& File, QString& OutValue) const;
	// The text, or an empty one when the file has none.
	QString Get(FConfigCache& Config, const QString& File) const { return ReadOr(*this, Config, File, QString()); }
	void Set(FConfigCache& Config, const QString& File, const QString& Value) const;
};

class FConfigBoolSetting : public FConfigKey
{
public:
	constexpr FConfigBoolSetting(FConfigSection InSection, const char* InKey, bool bInDefault = false)
	    : FConfigKey(InSection, InKey, EConfigForm::Bool)
	    , bDefault(bInDefault)
	{
	}

	bool Read(FConfigCache& Config, const QString& File, bool& OutValue) const;
	bool Get(FConfigCache& Config, const QString& File) const { return ReadOr(*this, Config, File, bDefault); }
	void Set(FConfigCache& Config, const QString& File, bool bValue) const;
	bool Default() const { return bDefault; }

private:
	bool bDefault;
};

class FConfigWholeNumberSetting : public FConfigKey
{
public:
	constexpr FConfigWholeNumberSetting(FConfigSection InSection, const char* InKey, qint64 InDefault, qint64 InMinimum)
	    : FConfigKey(InSection, InKey, EConfigForm::WholeNumber)
	    , DefaultValue(InDefault)
	    , MinimumValue(InMinimum)
	{
	}

	// OutValue is set only when the answer is Valid; OutStored (when given) receives the stored
	// text whenever there is one, so that a caller can say what it ignored.
	EConfigRead Read(FConfigCache& Config, const QString& File, qint64& OutValue, QString* OutStored = nullptr) const;
	// The stored value when it is valid, else the default.
	qint64 Get(FConfigCache& Config, const QString& File) const { return ReadOr(*this, Config, File, DefaultValue); }
	void Set(FConfigCache& Config, const QString& File, qint64 Value) const;
	constexpr qint64 Default() const { return DefaultValue; }
	constexpr qint64 Minimum() const { return MinimumValue; }

private:
	qint64 DefaultValue;
	qint64 MinimumValue;
};
