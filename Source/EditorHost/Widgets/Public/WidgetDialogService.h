#pragma once

#include "Dialogs.h"

#include <QPointer>
#include <QWidget>

class QProgressDialog;

// The editor's dialogs: modal Qt message boxes, file dialogs and a progress dialog for slow
// tasks, parented to the editor's main window.
class FWidgetDialogService : public FDialogService
{
public:
	explicit FWidgetDialogService(QWidget* InParent = nullptr);
	~FWidgetDialogService() override;

	EAppReturnType MessageBox(EAppMsgType Type, const QString& Message, const QString& Title) override;
	QStringList OpenFileDialog(const QString& Title, const QString& DefaultPath, const QString& FileTypes,
	                           bool bMultiple) override;
	void BeginSlowTask(float TotalWork, const QString& Text) override;
	void UpdateSlowTask(float CompletedWork, float TotalWork, const QString& Text) override;
	void EndSlowTask() override;

	// The open progress dialog, if a slow task runs.
	QProgressDialog* GetProgressDialog() const { return Progress; }

	// Turns the engine's file type list ("Pak Files (*.pak)|*.pak") into a Qt filter.
	static QString ToQtFilter(const QString& FileTypes);

private:
	QPointer<QWidget> Parent;
	QPointer<QProgressDialog> Progress;
	int SlowDepth = 0;
};
