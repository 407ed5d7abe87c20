#pragma once

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>

// The pre-flight report: what a build and publish of the current world would run into, found
// while it is still cheap to fix. Computed on the main thread from the asset registry and the
// files on disk; nothing is built, moved or sent.

namespace OrvaPreflightTypes
{
Q_NAMESPACE

// Errors stop a build from the tab; warnings and notes do not.
enum class EOrvaPreflightLevel : quint8
{
	Error,
	Warning,
	Note,
};
Q_ENUM_NS(EOrvaPreflightLevel)
} // namespace OrvaPreflightTypes

using OrvaPreflightTypes::EOrvaPreflightLevel;

// One thing the report found: how bad, what it is about (a package, a folder, a file, the world),
// what is wrong and what to do about it.
struct FOrvaPreflightFinding
{
	Q_GADGET
	Q_PROPERTY(OrvaPreflightTypes::EOrvaPreflightLevel Level MEMBER Level)
	Q_PROPERTY(QString Subject MEMBER Subject)
	Q_PROPERTY(QString Message MEMBER Message)
	Q_PROPERTY(QString Hint MEMBER Hint)

public:
	EOrvaPreflightLevel Level = EOrvaPreflightLevel::Note;
	QString Subject;
	QString Message;
	QString Hint;

	bool operator==(const FOrvaPreflightFinding& Other) const = default;
};

// The estimate of one platform's pak.
struct FOrvaPreflightPak
{
	Q_GADGET
	Q_PROPERTY(QString Platform MEMBER Platform)
	Q_PROPERTY(qint32 FileCount MEMBER FileCount)
	Q_PROPERTY(qint64 ContentBytes MEMBER ContentBytes)
	Q_PROPERTY(qint64 EstimatedBytes MEMBER EstimatedBytes)

public:
	QString Platform;
	qint32 FileCount = 0;
	// The files' own sizes, before compression.
	qint64 ContentBytes = 0;
	qint64 EstimatedBytes = 0;

	bool operator==(const FOrvaPreflightPak& Other) const = default;
};

struct FOrvaPreflightReport
{
	Q_GADGET
	Q_PROPERTY(QList<FOrvaPreflightFinding> Findings MEMBER Findings)
	Q_PROPERTY(qint32 PackageCount MEMBER PackageCount)
	Q_PROPERTY(qint64 TotalBytes MEMBER TotalBytes)
	Q_PROPERTY(qint64 EstimatedPakBytes MEMBER EstimatedPakBytes)
	Q_PROPERTY(qint64 UploadLimitBytes MEMBER UploadLimitBytes)
	Q_PROPERTY(QString InstallFolder MEMBER InstallFolder)
	Q_PROPERTY(QList<FOrvaPreflightPak> Paks MEMBER Paks)

public:
	// Errors first, then warnings, then notes; in the order found within a level.
	QList<FOrvaPreflightFinding> Findings;
	// The entry map and every package it needs, transitively.
	qint32 PackageCount = 0;
	// Their files' sizes.
	qint64 TotalBytes = 0;
	// The largest estimated pak: the one the upload limit decides on.
	qint64 EstimatedPakBytes = 0;
	// The upload limit in force.
	qint64 UploadLimitBytes = 0;
	// Where the player client usually lies on Windows, which the path lengths are measured with.
	QString InstallFolder;
	// Per target platform, in build order.
	QList<FOrvaPreflightPak> Paks;

	int Count(EOrvaPreflightLevel Level) const;
	bool HasErrors() const { return Count(EOrvaPreflightLevel::Error) > 0; }
};

Q_DECLARE_METATYPE(FOrvaPreflightFinding)
Q_DECLARE_METATYPE(FOrvaPreflightPak)
Q_DECLARE_METATYPE(FOrvaPreflightReport)

namespace OrvaPreflight
{
// The client installer's default folder on Windows ({autopf}\ORVA).
QString ClientInstallFolder();
// Windows' MAX_PATH counts the terminating null: a path of 260 characters no longer opens.
constexpr int WindowsMaxPath = 260;
// Each kind of finding lists at most this many subjects, then one finding counts the rest.
constexpr int MaxListedPerKind = 20;
} // namespace OrvaPreflight
