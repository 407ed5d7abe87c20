#include "EditorJobNotification.h"

#include "Log.h"

#include <memory>

namespace
{
void ShowEnd(FNotificationItem& Item, EEditorJobState How, const QString& Text, const QString& LogText)
{
	const bool bSucceeded = How == EEditorJobState::Succeeded;
	if (!Text.isEmpty())
	{
		Item.SetText(Text);
	}
	Item.SetCompletionState(bSucceeded ? ENotificationState::Success : ENotificationState::Fail);
	Item.ExpireAndFadeout();
	if (!LogText.isEmpty())
	{
		const ELogVerbosity Verbosity = bSucceeded                          ? ELogVerbosity::Display
		                                : How == EEditorJobState::Cancelled ? ELogVerbosity::Warning
		                                                                    : ELogVerbosity::Error;
		FLog::Write(LogTemp, Verbosity, LogText);
	}
}
} // namespace

FNotificationItemPtr FEditorJobNotification::Follow(UEditorJob& Job, FNotificationService& Service,
                                                    FEditorJobNotificationTexts Texts)
{
	if (Job.HasEnded())
	{
		return nullptr;
	}
	const auto Shared = std::make_shared<const FEditorJobNotificationTexts>(std::move(Texts));
	const auto RunningText = [Shared](const UEditorJob& Of)
	{ return Shared->Running ? Shared->Running(Of) : Of.GetTitle(); };

	FNotificationInfo Info(RunningText(Job));
	Info.bFireAndForget = false;
	FNotificationItemPtr Item = Service.AddNotification(Info);
	Item->SetCompletionState(ENotificationState::Pending);
	// The stack is the context: once it is gone nothing is left to show.
	QObject::connect(&Job, &UEditorJob::Changed, &Service,
	                 [Item, RunningText](UEditorJob* Changed)
	                 {
		                 if (!Changed->HasEnded())
		                 {
			                 Item->SetText(RunningText(*Changed));
		                 }
	                 });
	QObject::connect(&Job, &UEditorJob::Finished, &Service,
	                 [Item, Shared](UEditorJob* Ended)
	                 {
		                 switch (Ended->GetState())
		                 {
		                 case EEditorJobState::Succeeded:
			                 ShowEnd(*Item, EEditorJobState::Succeeded, Shared->Succeeded, Shared->SucceededLog);
			                 break;
		                 case EEditorJobState::Cancelled:
			                 ShowEnd(*Item, EEditorJobState::Cancelled, Shared->Cancelled, Shared->CancelledLog);
			                 break;
		                 default:
			                 ShowEnd(*Item, EEditorJobState::Failed, Shared->Failed, Shared->FailedLog);
			                 break;
		                 }
	                 });
	return Item;
}

FNotificationItemPtr FEditorJobNotification::ShowEnded(FNotificationService& Service, EEditorJobState How,
                                                       const QString& Text, const QString& LogText)
{
	const FNotificationItemPtr Item = Service.AddNotification(FNotificationInfo(Text));
	ShowEnd(*Item, How, QString(), LogText);
	return Item;
}
