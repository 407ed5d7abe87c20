#include "SlateStyle.h"

#include "Paths.h"

#include <QImage>
#include <QImageReader>
#include <QPainter>

FSlateImageBrush::FSlateImageBrush(const QString& InImagePath, const QSize& InImageSize, const QColor& InTint)
    : ImagePath(InImagePath)
    , ImageSize(InImageSize)
    , Tint(InTint)
{
}

QPixmap FSlateImageBrush::GetPixmap() const
{
	if (bLoaded)
	{
		return Cached;
	}
	bLoaded = true;
	QImageReader Reader(ImagePath, "png");
	QImage Image = Reader.read();
	if (Image.isNull())
	{
		Cached = QPixmap();
		return Cached;
	}
	Image = Image.convertToFormat(QImage::Format_ARGB32_Premultiplied)
	            .scaled(ImageSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
	if (Tint != QColor(Qt::white))
	{
		// Multiply the colours, then cut back to the image's own alpha, as a tinted brush draws.
		const QImage Shape = Image;
		QPainter Painter(&Image);
		Painter.setCompositionMode(QPainter::CompositionMode_Multiply);
		Painter.fillRect(Image.rect(), Tint);
		Painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
		Painter.drawImage(0, 0, Shape);
	}
	Cached = QPixmap::fromImage(Image);
	return Cached;
}

QIcon FSlateImageBrush::GetIcon() const
{
	const QPixmap Pixmap = GetPixmap();
	return Pixmap.isNull() ? QIcon() : QIcon(Pixmap);
}

void FSlateImageBrush::ReleaseResources() const
{
	Cached = QPixmap();
	bLoaded = false;
}

FSlateStyleSet::FSlateStyleSet(const QString& InName)
    : Name(InName)
{
}

QString FSlateStyleSet::RootToContentDir(const QString& RelativePath, const QString& Extension) const
{
	return FPaths::Combine(ContentRoot, RelativePath + Extension);
}

void FSlateStyleSet::Set(const QString& BrushName, std::unique_ptr<FSlateImageBrush> Brush)
{
	if (!Brushes.contains(BrushName))
	{
		Order.append(BrushName);
	}
	Brushes.insert(BrushName, std::shared_ptr<FSlateImageBrush>(std::move(Brush)));
}

const FSlateImageBrush* FSlateStyleSet::GetBrush(const QString& BrushName) const
{
	const auto Found = Brushes.constFind(BrushName);
	return Found == Brushes.constEnd() ? nullptr : Found->get();
}

void FSlateStyleSet::ReleaseResources() const
{
	for (const auto& Brush : Brushes)
	{
		Brush->ReleaseResources();
	}
}

bool FSlateStyleRegistry::RegisterSlateStyle(const FSlateStyleSet& Style)
{
	if (FindSlateStyle(Style.GetStyleSetName()))
	{
		return false;
	}
	Styles.append(&Style);
	return true;
}

bool FSlateStyleRegistry::UnRegisterSlateStyle(const QString& StyleSetName)
{
	for (int Index = 0; Index < Styles.size(); ++Index)
	{
		if (Styles[Index]->GetStyleSetName() == StyleSetName)
		{
			Styles.removeAt(Index);
			return true;
		}
	}
	return false;
}

const FSlateStyleSet* FSlateStyleRegistry::FindSlateStyle(const QString& StyleSetName) const
{
	for (const FSlateStyleSet* Style : Styles)
	{
		if (Style->GetStyleSetName() == StyleSetName)
		{
			return Style;
		}
	}
	return nullptr;
}

QStringList FSlateStyleRegistry::GetStyleSetNames() const
{
	QStringList Names;
	for (const FSlateStyleSet* Style : Styles)
	{
		Names.append(Style->GetStyleSetName());
	}
	return Names;
}

void FSlateStyleRegistry::ReloadTextureResources() const
{
	for (const FSlateStyleSet* Style : Styles)
	{
		Style->ReleaseResources();
	}
}

const FSlateImageBrush* FSlateIcon::GetBrush(const FSlateStyleRegistry& Registry) const
{
	const FSlateStyleSet* Style = Registry.FindSlateStyle(StyleSetName);
	return Style ? Style->GetBrush(StyleName) : nullptr;
}

QIcon FSlateIcon::GetIcon(const FSlateStyleRegistry& Registry) const
{
	const FSlateImageBrush* Brush = GetBrush(Registry);
	return Brush ? Brush->GetIcon() : QIcon();
}
