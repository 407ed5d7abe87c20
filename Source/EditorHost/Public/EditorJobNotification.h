#pragma once

#include "EditorJob.h"
#include "Notifications.h"

#include <QString>

#include <functional>

// What the item of a job says. Running gives the text while the job runs; it is asked again
// whenever the job changes. An end text left empty keeps the last running text. An end may also
// go to the log under LogTemp (a success as Display, a failure as Error, a cancel as Warning);
// an empty log text writes nothing.
struct FEditorJobNotificationTexts
{
	std::function<QString(const UEditorJob&)> Running;
	QString Succeeded;
	QString Failed;
	QString Cancelled;
	QString SucceededLog;
	QString FailedLog;
	QString CancelledLog;
};

// The toast of a long operation, written once for every kind of job: a pending item while the
// work runs, its text kept up with the job, and at the end a tick (or a cross for a failure and a
// cancel), the end's text and a fade-out. The item belongs to the stack, not to the job, so a job
// that releases itself at its end still shows how it ended. Main thread only.
class FEditorJobNotification
{
public:
	// Shows Job's item on Service now and follows the job until it ends. A job that has ended
	// already gets no item (null).
	static FNotificationItemPtr Follow(UEditorJob& Job, FNotificationService& Service,
	                                   FEditorJobNotificationTexts Texts);

	// An item that shows an end at once, for work that ended before it had an item of its own (a
	// refusal before anything was sent).
	static FNotificationItemPtr ShowEnded(FNotificationService& Service, EEditorJobState How, const QString& Text,
	                                      const QString& LogText);
};
