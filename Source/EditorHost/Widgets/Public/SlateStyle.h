#pragma once

#include <QColor>
#include <QHash>
#include <QIcon>
#include <QList>
#include <QPixmap>
#include <QSize>
#include <QString>

#include <memory>

// An image brush: a PNG drawn at a fixed size, multiplied by a tint. The pixels are loaded on
// first use and kept until the style reloads its textures.
class FSlateImageBrush
{
public:
	FSlateImageBrush(const QString& InImagePath, const QSize& InImageSize, const QColor& InTint = Qt::white);

	const QString& GetResourceName() const { return ImagePath; }
	QSize GetImageSize() const { return ImageSize; }
	QColor GetTint() const { return Tint; }

	// The image scaled to the draw size and tinted; a null pixmap when the file cannot be read.
	QPixmap GetPixmap() const;
	QIcon GetIcon() const;
	void ReleaseResources() const;

private:
	QString ImagePath;
	QSize ImageSize;
	QColor Tint;
	mutable QPixmap Cached;
	mutable bool bLoaded = false;
};

// A named set of brushes with a content root their image paths are made from.
class FSlateStyleSet
{
public:
	explicit FSlateStyleSet(const QString& InName);

	const QString& GetStyleSetName() const { return Name; }
	void SetContentRoot(const QString& Root) { ContentRoot = Root; }
	const QString& GetContentRoot() const { return ContentRoot; }
	// ContentRoot + "/" + RelativePath + Extension.
	QString RootToContentDir(const QString& RelativePath, const QString& Extension) const;

	void Set(const QString& BrushName, std::unique_ptr<FSlateImageBrush> Brush);
	// Null when the set has no brush of that name.
	const FSlateImageBrush* GetBrush(const QString& BrushName) const;
	QStringList GetBrushNames() const { return Order; }
	void ReleaseResources() const;

private:
	QString Name;
	QString ContentRoot;
	QHash<QString, std::shared_ptr<FSlateImageBrush>> Brushes;
	QStringList Order;
};

// The editor's style sets by name. It does not own them: whoever registers a set unregisters it
// before releasing it.
class FSlateStyleRegistry
{
public:
	// False when a set of that name is registered already.
	bool RegisterSlateStyle(const FSlateStyleSet& Style);
	bool UnRegisterSlateStyle(const QString& StyleSetName);
	const FSlateStyleSet* FindSlateStyle(const QString& StyleSetName) const;
	QStringList GetStyleSetNames() const;
	// Drops the loaded pixels of every set, so they are read from disk again.
	void ReloadTextureResources() const;

private:
	QList<const FSlateStyleSet*> Styles;
};

// Which brush of which set draws an icon.
struct FSlateIcon
{
	QString StyleSetName;
	QString StyleName;

	bool IsSet() const { return !StyleSetName.isEmpty() && !StyleName.isEmpty(); }
	const FSlateImageBrush* GetBrush(const FSlateStyleRegistry& Registry) const;
	// A null icon when the set or the brush is missing.
	QIcon GetIcon(const FSlateStyleRegistry& Registry) const;
};
