#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <deque>
#include <optional>

enum class EAppMsgType
{
	Ok,
	YesNo,
	OkCancel,
	YesNoCancel
};

enum class EAppReturnType
{
	No,
	Yes,
	YesAll,
	NoAll,
	Cancel,
	Ok,
	Retry,
	Continue
};

// Message boxes, file dialogs and progress dialogs. The editor shows Qt dialogs; headless runs and
// tests answer from a policy. All calls happen on the main thread.
class FDialogService
{
public:
	virtual ~FDialogService() = default;

	virtual EAppReturnType MessageBox(EAppMsgType Type, const QString& Message, const QString& Title) = 0;
	// Returns the chosen files; empty when the creator cancelled.
	virtual QStringList OpenFileDialog(const QString& Title, const QString& DefaultPath, const QString& FileTypes,
	                                   bool bMultiple) = 0;

	// Progress dialog of a slow task (see FScopedSlowTask).
	virtual void BeginSlowTask(float TotalWork, const QString& Text) = 0;
	virtual void UpdateSlowTask(float CompletedWork, float TotalWork, const QString& Text) = 0;
	virtual void EndSlowTask() = 0;
};

// Answers dialogs from queued answers. A message box with no queued answer is answered with the
// default answer when one is set; otherwise it is recorded as unanswered and answered Cancel
// (No for yes/no boxes), which a script runner treats as a failure.
class FPolicyDialogService : public FDialogService
{
public:
	struct FShownMessage
	{
		EAppMsgType Type;
		QString Message;
		QString Title;
		EAppReturnType Answer;
		bool bAnswered;
	};

	void QueueAnswer(EAppReturnType Answer) { Answers.push_back(Answer); }
	void QueueFileChoice(const QStringList& Files) { FileChoices.push_back(Files); }
	void SetDefaultAnswer(std::optional<EAppReturnType> Answer) { DefaultAnswer = Answer; }

	EAppReturnType MessageBox(EAppMsgType Type, const QString& Message, const QString& Title) override;
	QStringList OpenFileDialog(const QString& Title, const QString& DefaultPath, const QString& FileTypes,
	                           bool bMultiple) override;
	void BeginSlowTask(float TotalWork, const QString& Text) override;
	void UpdateSlowTask(float CompletedWork, float TotalWork, const QString& Text) override;
	void EndSlowTask() override;

	const QList<FShownMessage>& ShownMessages() const { return Shown; }
	// Texts of every slow task and progress frame, in order.
	const QStringList& SlowTaskTexts() const { return SlowTexts; }
	int OpenSlowTasks() const { return SlowDepth; }
	// The first message box that found no answer, if any.
	std::optional<FShownMessage> FirstUnanswered() const;

private:
	std::deque<EAppReturnType> Answers;
	std::deque<QStringList> FileChoices;
	std::optional<EAppReturnType> DefaultAnswer;
	QList<FShownMessage> Shown;
	QStringList SlowTexts;
	int SlowDepth = 0;
};

// The engine's slow task: a progress dialog with a total amount of work and progress frames.
class FScopedSlowTask
{
public:
	FScopedSlowTask(FDialogService& Service, float TotalWork, const QString& Text);
	~FScopedSlowTask();
	FScopedSlowTask(const FScopedSlowTask&) = delete;
	FScopedSlowTask& operator=(const FScopedSlowTask&) = delete;

	void EnterProgressFrame(float Work, const QString& Text);

private:
	FDialogService& Service;
	float Total;
	float Completed = 0.f;
	float PendingFrame = 0.f;
};
