#pragma once

// What the packaging panel's form and mission list share: their texts' translation context and
// the look of their tables.

#include <QCoreApplication>
#include <QHeaderView>
#include <QPalette>
#include <QString>
#include <QStringList>
#include <QTableWidget>

namespace HotPatcherPanel
{
inline QString Tr(const char* Key, const char* Source)
{
	return QCoreApplication::translate("SHotPatcher", Source, Key);
}

inline QTableWidgetItem* TextItem(const QString& Text)
{
	return new QTableWidgetItem(Text);
}

// Check boxes in lists and tables draw their frame from the window colour, which a dark editor
// palette makes invisible; a lighter one shows the unchecked boxes too.
inline void ShowCheckFrames(QWidget* Widget)
{
	QPalette Palette = Widget->palette();
	Palette.setColor(QPalette::Window, Palette.color(QPalette::Text).darker(130));
	Widget->setPalette(Palette);
}

inline QTableWidget* MakeTable(const QStringList& Headers, const QString& Name)
{
	auto* Table = new QTableWidget(0, int(Headers.size()));
	Table->setObjectName(Name);
	Table->setHorizontalHeaderLabels(Headers);
	Table->horizontalHeader()->setStretchLastSection(true);
	Table->verticalHeader()->setVisible(false);
	Table->setSelectionBehavior(QAbstractItemView::SelectRows);
	// One line a row: long paths are cut in the middle, where they differ least.
	Table->setWordWrap(false);
	Table->setTextElideMode(Qt::ElideMiddle);
	Table->verticalHeader()->setDefaultSectionSize(Table->fontMetrics().height() + 8);
	Table->setMinimumHeight(96);
	ShowCheckFrames(Table);
	return Table;
}
} // namespace HotPatcherPanel
