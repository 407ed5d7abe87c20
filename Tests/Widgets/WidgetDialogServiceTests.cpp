#include "WidgetDialogService.h"

#include <QApplication>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>

#include <gtest/gtest.h>

namespace
{
// Clicks a button of the next message box once it is shown.
void ClickWhenShown(QMessageBox::StandardButton Button, QString* OutText = nullptr)
{
	QTimer::singleShot(0,
	                   [Button, OutText]
	                   {
		                   for (QWidget* Widget : QApplication::topLevelWidgets())
		                   {
			                   if (auto* Box = qobject_cast<QMessageBox*>(Widget); Box && Box->isVisible())
			                   {
				                   if (OutText)
				                   {
					                   *OutText = Box->text();
				                   }
				                   QTest::mouseClick(Box->button(Button), Qt::LeftButton);
				                   return;
			                   }
		                   }
		                   ClickWhenShown(Button, OutText);
	                   });
}
} // namespace

TEST(WidgetDialogService, MessageBoxAnswersWithTheButtonPressed)
{
	FWidgetDialogService Dialogs;
	QString Shown;
	ClickWhenShown(QMessageBox::Yes, &Shown);
	EXPECT_EQ(Dialogs.MessageBox(EAppMsgType::YesNo, QStringLiteral("Move them?"), QStringLiteral("Title")),
	          EAppReturnType::Yes);
	EXPECT_EQ(Shown, QStringLiteral("Move them?"));
	ClickWhenShown(QMessageBox::No);
	EXPECT_EQ(Dialogs.MessageBox(EAppMsgType::YesNo, QStringLiteral("Again?"), QStringLiteral("Title")),
	          EAppReturnType::No);
	ClickWhenShown(QMessageBox::Cancel);
	EXPECT_EQ(Dialogs.MessageBox(EAppMsgType::OkCancel, QStringLiteral("Go?"), QStringLiteral("Title")),
	          EAppReturnType::Cancel);
}

TEST(WidgetDialogService, SlowTaskShowsProgressWithoutCancel)
{
	FWidgetDialogService Dialogs;
	{
		FScopedSlowTask Task(Dialogs, 3.f, QStringLiteral("Fixing up redirectors"));
		ASSERT_NE(Dialogs.GetProgressDialog(), nullptr);
		EXPECT_TRUE(Dialogs.GetProgressDialog()->isVisible());
		Task.EnterProgressFrame(1.f, QStringLiteral("Loading Assets..."));
		Task.EnterProgressFrame(1.f, QStringLiteral("Fixing up referencers..."));
		EXPECT_EQ(Dialogs.GetProgressDialog()->labelText(), QStringLiteral("Fixing up referencers..."));
		EXPECT_EQ(Dialogs.GetProgressDialog()->value(), 333);
		EXPECT_TRUE(Dialogs.GetProgressDialog()->findChildren<QPushButton*>().isEmpty());
	}
	EXPECT_EQ(Dialogs.GetProgressDialog(), nullptr);
}

TEST(WidgetDialogService, FileTypeFilters)
{
	EXPECT_EQ(FWidgetDialogService::ToQtFilter(QStringLiteral("Pak Files (*.pak)|*.pak")),
	          QStringLiteral("Pak Files (*.pak)"));
	EXPECT_EQ(FWidgetDialogService::ToQtFilter(QStringLiteral("Images|*.png;*.jpg|All|*.*")),
	          QStringLiteral("Images (*.png *.jpg);;All (*.*)"));
}
