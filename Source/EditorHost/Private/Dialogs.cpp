#include "Dialogs.h"

EAppReturnType FPolicyDialogService::MessageBox(EAppMsgType Type, const QString& Message, const QString& Title)
{
	FShownMessage Entry{Type, Message, Title, EAppReturnType::Cancel, false};
	if (!Answers.empty())
	{
		Entry.Answer = Answers.front();
		Entry.bAnswered = true;
		Answers.pop_front();
	}
	else if (DefaultAnswer)
	{
		Entry.Answer = *DefaultAnswer;
		Entry.bAnswered = true;
	}
	else
	{
		Entry.Answer = Type == EAppMsgType::YesNo ? EAppReturnType::No : EAppReturnType::Cancel;
	}
	Shown.append(Entry);
	return Entry.Answer;
}

QStringList FPolicyDialogService::OpenFileDialog(const QString&, const QString&, const QString&, bool)
{
	if (FileChoices.empty())
	{
		return {};
	}
	QStringList Files = FileChoices.front();
	FileChoices.pop_front();
	return Files;
}

void FPolicyDialogService::BeginSlowTask(float, const QString& Text)
{
	++SlowDepth;
	SlowTexts.append(Text);
}

void FPolicyDialogService::UpdateSlowTask(float, float, const QString& Text)
{
	SlowTexts.append(Text);
}

void FPolicyDialogService::EndSlowTask()
{
	if (SlowDepth > 0)
	{
		--SlowDepth;
	}
}

std::optional<FPolicyDialogService::FShownMessage> FPolicyDialogService::FirstUnanswered() const
{
	for (const FShownMessage& Entry : Shown)
	{
		if (!Entry.bAnswered)
		{
			return Entry;
		}
	}
	return std::nullopt;
}

FScopedSlowTask::FScopedSlowTask(FDialogService& InService, float TotalWork, const QString& Text)
    : Service(InService)
    , Total(TotalWork)
{
	Service.BeginSlowTask(TotalWork, Text);
}

FScopedSlowTask::~FScopedSlowTask()
{
	Service.EndSlowTask();
}

void FScopedSlowTask::EnterProgressFrame(float Work, const QString& Text)
{
	Completed += PendingFrame;
	PendingFrame = Work;
	Service.UpdateSlowTask(Completed, Total, Text);
}
