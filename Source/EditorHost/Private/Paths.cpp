#include "Paths.h"

#include <QDir>
#include <QFileInfo>

namespace
{
QString WithTrailingSlash(QString Path)
{
	if (!Path.isEmpty() && !Path.endsWith(QLatin1Char('/')))
	{
		Path += QLatin1Char('/');
	}
	return Path;
}
} // namespace

FPaths::FPaths(const QString& InProjectFile, const QString& InUserSettingsDir, const QString& InEngineDir)
{
	ProjectFile = ConvertRelativePathToFull(InProjectFile);
	ProjectDirectory = WithTrailingSlash(GetPath(ProjectFile));
	UserSettings = WithTrailingSlash(
	    ConvertRelativePathToFull(InUserSettingsDir.isEmpty() ? DefaultUserSettingsDir() : InUserSettingsDir));
	EngineDirectory = InEngineDir.isEmpty() ? QString() : WithTrailingSlash(ConvertRelativePathToFull(InEngineDir));
}

QString FPaths::ProjectName() const
{
	return GetBaseFilename(ProjectFile);
}

QString FPaths::EngineContentDir() const
{
	return EngineDirectory.isEmpty() ? QString() : EngineDirectory + QStringLiteral("Content/");
}

QString FPaths::Combine(const QString& A, const QString& B)
{
	if (A.isEmpty())
	{
		return B;
	}
	if (B.isEmpty())
	{
		return A;
	}
	QString Left = A;
	while (Left.endsWith(QLatin1Char('/')))
	{
		Left.chop(1);
	}
	int Start = 0;
	while (Start < B.size() && B.at(Start) == QLatin1Char('/'))
	{
		++Start;
	}
	return Left + QLatin1Char('/') + B.mid(Start);
}

QString FPaths::Combine(const QStringList& Parts)
{
	QString Out;
	for (const QString& Part : Parts)
	{
		Out = Combine(Out, Part);
	}
	return Out;
}

QString FPaths::ConvertRelativePathToFull(const QString& Path)
{
	return ConvertRelativePathToFull(QDir::currentPath(), Path);
}

QString FPaths::ConvertRelativePathToFull(const QString& BasePath, const QString& Path)
{
	const QString Normal = NormalizeFilename(Path);
	const bool bTrailing = Normal.endsWith(QLatin1Char('/'));
	QString Full = QDir::isAbsolutePath(Normal) ? Normal : Combine(NormalizeFilename(BasePath), Normal);
	Full = QDir::cleanPath(Full);
	// cleanPath keeps ".." above the root; the file system treats "/.." as "/".
	while (Full.startsWith(QLatin1String("/../")))
	{
		Full.remove(0, 3);
	}
	if (Full == QLatin1String("/.."))
	{
		Full = QStringLiteral("/");
	}
	if (bTrailing && !Full.endsWith(QLatin1Char('/')))
	{
		Full += QLatin1Char('/');
	}
	return Full;
}

QString FPaths::GetBaseFilename(const QString& Path)
{
	const QString Clean = GetCleanFilename(Path);
	const int Dot = Clean.lastIndexOf(QLatin1Char('.'));
	return Dot < 0 ? Clean : Clean.left(Dot);
}

QString FPaths::GetCleanFilename(const QString& Path)
{
	const QString Normal = NormalizeFilename(Path);
	const int Slash = Normal.lastIndexOf(QLatin1Char('/'));
	return Slash < 0 ? Normal : Normal.mid(Slash + 1);
}

QString FPaths::GetPath(const QString& Path)
{
	const QString Normal = NormalizeFilename(Path);
	const int Slash = Normal.lastIndexOf(QLatin1Char('/'));
	return Slash < 0 ? QString() : Normal.left(Slash);
}

QString FPaths::GetExtension(const QString& Path, bool bIncludeDot)
{
	const QString Clean = GetCleanFilename(Path);
	const int Dot = Clean.lastIndexOf(QLatin1Char('.'));
	if (Dot < 0)
	{
		return QString();
	}
	return Clean.mid(bIncludeDot ? Dot : Dot + 1);
}

QString FPaths::NormalizeFilename(const QString& Path)
{
	QString Out = Path;
	Out.replace(QLatin1Char('\\'), QLatin1Char('/'));
	return Out;
}

bool FPaths::DirectoryExists(const QString& Path)
{
	return QFileInfo(Path).isDir();
}

bool FPaths::FileExists(const QString& Path)
{
	const QFileInfo Info(Path);
	return Info.exists() && Info.isFile();
}

bool FPaths::CreateDirectoryTree(const QString& Path)
{
	return QDir().mkpath(Path);
}

QString FPaths::DefaultUserSettingsDir()
{
	QString Base = qEnvironmentVariable("XDG_CONFIG_HOME");
	if (Base.isEmpty() || !QDir::isAbsolutePath(Base))
	{
		Base = QDir::homePath() + QStringLiteral("/.config");
	}
	return WithTrailingSlash(Base);
}
