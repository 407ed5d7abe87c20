#include "OrvaScriptRunner.h"

#include "OrvaScriptLexer.h"
#include "OrvaScriptRunnerImpl.h"

#include <QFile>
#include <QFileInfo>

using namespace OrvaScript;

bool FOrvaScriptRunner::FImpl::Run(const QString& Text, const QString& ScriptName)
{
	Error.clear();
	FailedLine = 0;
	const QStringList Lines = Text.split(QLatin1Char('\n'));
	int Commands = 0;
	for (qsizetype Index = 0; Index < Lines.size(); ++Index)
	{
		QString Line = Lines[Index];
		if (Line.endsWith(QLatin1Char('\r')))
		{
			Line.chop(1);
		}
		QStringList Tokens;
		QString Reason;
		const bool bSplit = FOrvaScriptRunner::SplitLine(Line, Tokens, Reason);
		if (bSplit && Tokens.isEmpty())
		{
			continue;
		}
		// Failures name the command by its verb and, for those that have one, its target.
		const FCommand* Known = FindCommand(Tokens.value(0));
		const QString Command = Tokens.mid(0, Known && Known->bTargeted ? 2 : 1).join(QLatin1Char(' '));
		bool bOk = bSplit;
		if (bOk)
		{
			NoteSecretArguments(Tokens);
			UE_LOG(LogOrvaAutomation, Display,
			       Mask.Apply(QStringLiteral("%1:%2: %3").arg(ScriptName).arg(Index + 1).arg(Line.trimmed())));
			bOk = RunCommand(Tokens, Reason);
			++Commands;
			NoteServiceSecrets();
		}
		// A box raised by a command that failed anyway explains less than the command's error.
		QString BoxReason;
		if (!Boxes.Check(BoxReason) && bOk)
		{
			bOk = false;
			Reason = BoxReason;
		}
		if (!bOk)
		{
			FailedLine = int(Index + 1);
			Error =
			    Mask.Apply(Command.isEmpty()
			                   ? QStringLiteral("%1:%2: %3").arg(ScriptName).arg(FailedLine).arg(Reason)
			                   : QStringLiteral("%1:%2: %3: %4").arg(ScriptName).arg(FailedLine).arg(Command, Reason));
			UE_LOG(LogOrvaAutomation, Error, Error);
			return false;
		}
	}
	UE_LOG(LogOrvaAutomation, Display, QStringLiteral("%1: ran %2 command(s)").arg(ScriptName).arg(Commands));
	return true;
}

FOrvaScriptRunner::FOrvaScriptRunner(FEditorHost& Host)
    : Impl(std::make_unique<FImpl>(Host))
{
}

FOrvaScriptRunner::~FOrvaScriptRunner() = default;

void FOrvaScriptRunner::SetOutput(std::function<void(const QString&)> Output)
{
	Impl->Output = std::move(Output);
}

void FOrvaScriptRunner::SetDefaultWaitSeconds(double Seconds)
{
	Impl->DefaultWait = Seconds;
}

bool FOrvaScriptRunner::RunFile(const QString& ScriptPath)
{
	const QFileInfo Info(ScriptPath);
	QFile File(ScriptPath);
	if (!File.open(QIODevice::ReadOnly))
	{
		Impl->FailedLine = 0;
		Impl->Error = QStringLiteral("%1: cannot read the script: %2").arg(ScriptPath, File.errorString());
		UE_LOG(LogOrvaAutomation, Error, Impl->Error);
		return false;
	}
	return RunText(QString::fromUtf8(File.readAll()), Info.fileName(), Info.absolutePath());
}

bool FOrvaScriptRunner::RunText(const QString& Text, const QString& ScriptName, const QString& BaseDir)
{
	Impl->BaseDir = BaseDir;
	return Impl->Run(Text, ScriptName);
}

QString FOrvaScriptRunner::GetError() const
{
	return Impl->Error;
}

int FOrvaScriptRunner::GetFailedLine() const
{
	return Impl->FailedLine;
}

bool FOrvaScriptRunner::SplitLine(const QString& Line, QStringList& OutTokens, QString& OutError)
{
	return SplitTokens(StripComment(Line), OutTokens, OutError);
}
