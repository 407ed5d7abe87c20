#include "ConfigSetting.h"

#include "ConfigCache.h"

bool FConfigKey::ReadStored(FConfigCache& Config, const QString& File, QString& OutStored) const
{
	return Config.GetString(SectionName(), KeyName(), OutStored, File);
}

bool FConfigKey::Remove(FConfigCache& Config, const QString& File) const
{
	return Config.RemoveKey(SectionName(), KeyName(), File);
}

bool FConfigStringSetting::Read(FConfigCache& Config, const QString& File, QString& OutValue) const
{
	return Config.GetString(SectionName(), KeyName(), OutValue, File);
}

void FConfigStringSetting::Set(FConfigCache& Config, const QString& File, const QString& Value) const
{
	Config.SetString(SectionName(), KeyName(), Value, File);
}

bool FConfigTextSetting::Read(FConfigCache& Config, const QString& File, QString& OutValue) const
{
	return Config.GetText(SectionName(), KeyName(), OutValue, File);
}

void FConfigTextSetting::Set(FConfigCache& Config, const QString& File, const QString& Value) const
{
	Config.SetText(SectionName(), KeyName(), Value, File);
}

bool FConfigBoolSetting::Read(FConfigCache& Config, const QString& File, bool& OutValue) const
{
	return Config.GetBool(SectionName(), KeyName(), OutValue, File);
}

void FConfigBoolSetting::Set(FConfigCache& Config, const QString& File, bool bValue) const
{
	Config.SetBool(SectionName(), KeyName(), bValue, File);
}

EConfigRead FConfigWholeNumberSetting::Read(FConfigCache& Config, const QString& File, qint64& OutValue,
                                            QString* OutStored) const
{
	QString Text;
	if (!Config.GetString(SectionName(), KeyName(), Text, File))
	{
		return EConfigRead::Absent;
	}
	if (OutStored)
	{
		*OutStored = Text;
	}
	bool bOk = false;
	const qint64 Value = Text.trimmed().toLongLong(&bOk);
	if (!bOk || Value < MinimumValue)
	{
		return EConfigRead::Invalid;
	}
	OutValue = Value;
	return EConfigRead::Valid;
}

void FConfigWholeNumberSetting::Set(FConfigCache& Config, const QString& File, qint64 Value) const
{
	Config.SetString(SectionName(), KeyName(), QString::number(Value), File);
}
