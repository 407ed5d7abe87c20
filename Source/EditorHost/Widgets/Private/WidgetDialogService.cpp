#include "WidgetDialogService.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QProgressDialog>

namespace
{
constexpr int ProgressSteps = 1000;
}

FWidgetDialogService::FWidgetDialogService(QWidget* InParent)
    : Parent(InParent)
{
}

FWidgetDialogService::~FWidgetDialogService()
{
	delete Progress.data();
}

EAppReturnType FWidgetDialogService::MessageBox(EAppMsgType Type, const QString& Message, const QString& Title)
{
	QMessageBox Box(QMessageBox::Question, Title, Message, QMessageBox::NoButton, Parent);
	switch (Type)
	{
	case EAppMsgType::Ok:
		Box.setStandardButtons(QMessageBox::Ok);
		Box.setIcon(QMessageBox::Information);
		break;
	case EAppMsgType::YesNo:
		Box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
		break;
	case EAppMsgType::OkCancel:
		Box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
		break;
	case EAppMsgType::YesNoCancel:
		Box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
		break;
	}
	switch (Box.exec())
	{
	case QMessageBox::Yes:
		return EAppReturnType::Yes;
	case QMessageBox::No:
		return EAppReturnType::No;
	case QMessageBox::Ok:
		return EAppReturnType::Ok;
	default:
		// Closing the box is a "no" where there is no cancel button, as the engine answers.
		return Type == EAppMsgType::YesNo ? EAppReturnType::No : EAppReturnType::Cancel;
	}
}

QStringList FWidgetDialogService::OpenFileDialog(const QString& Title, const QString& DefaultPath,
                                                 const QString& FileTypes, bool bMultiple)
{
	const QString Filter = ToQtFilter(FileTypes);
	if (bMultiple)
	{
		return QFileDialog::getOpenFileNames(Parent, Title, DefaultPath, Filter);
	}
	const QString File = QFileDialog::getOpenFileName(Parent, Title, DefaultPath, Filter);
	return File.isEmpty() ? QStringList() : QStringList{File};
}

QString FWidgetDialogService::ToQtFilter(const QString& FileTypes)
{
	// "Name (*.a)|*.a|Other|*.b;*.c" -> "Name (*.a);;Other (*.b *.c)"
	const QStringList Parts = FileTypes.split(QLatin1Char('|'));
	QStringList Filters;
	for (int Index = 0; Index + 1 < Parts.size(); Index += 2)
	{
		QString Name = Parts[Index].trimmed();
		const QString Patterns = Parts[Index + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts).join(QLatin1Char(' '));
		const int Paren = Name.indexOf(QLatin1Char('('));
		if (Paren >= 0)
		{
			Name = Name.left(Paren).trimmed();
		}
		Filters.append(Name + QStringLiteral(" (") + Patterns + QLatin1Char(')'));
	}
	return Filters.join(QStringLiteral(";;"));
}

void FWidgetDialogService::BeginSlowTask(float, const QString& Text)
{
	if (SlowDepth++ > 0 && Progress)
	{
		Progress->setLabelText(Text);
		return;
	}
	Progress = new QProgressDialog(Text, QString(), 0, ProgressSteps, Parent);
	// No cancel button: the work cannot be stopped half-way.
	Progress->setCancelButton(nullptr);
	Progress->setWindowModality(Qt::ApplicationModal);
	Progress->setMinimumDuration(0);
	Progress->setValue(0);
	Progress->show();
	QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void FWidgetDialogService::UpdateSlowTask(float CompletedWork, float TotalWork, const QString& Text)
{
	if (!Progress)
	{
		return;
	}
	Progress->setLabelText(Text);
	const float Fraction = TotalWork > 0.f ? qBound(0.f, CompletedWork / TotalWork, 1.f) : 0.f;
	Progress->setValue(int(Fraction * ProgressSteps));
	QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void FWidgetDialogService::EndSlowTask()
{
	if (SlowDepth == 0 || --SlowDepth > 0)
	{
		return;
	}
	if (Progress)
	{
		Progress->close();
		Progress->deleteLater();
		Progress.clear();
	}
}
