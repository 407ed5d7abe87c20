#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

class QAbstractButton;

// The editor's own look, by the names modules ask for: brushes ("Icons.Plus", "Icons.X",
// "Icons.ChevronLeft", "Icons.ChevronDown", "GenericCommands.Cut", "NotificationList.Throbber",
// "NoBorder") and button styles ("NoBorder", "SlimToolBar", "ComboButton"). The brushes are drawn,
// not read from files, so they are there in every host.
class FAppStyle
{
public:
	// The brush's natural size; an empty size for an unknown name.
	static QSize GetBrushSize(const QString& BrushName);
	// The brush drawn at Size (its natural size when Size is empty); a null pixmap for an unknown
	// name. "NoBorder" draws nothing.
	static QPixmap GetBrush(const QString& BrushName, const QSize& Size = QSize());
	static QIcon GetIcon(const QString& BrushName);

	// Gives the button the look of the named style; false (and nothing changed) for an unknown one.
	static bool ApplyButtonStyle(QAbstractButton* Button, const QString& StyleName);
};
