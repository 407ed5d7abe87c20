#include "ObjectPropertyEntryBox.h"

#include "AppStyle.h"
#include "AssetRegistry.h"
#include "ObjectClasses.h"
#include "Text.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

#define LOCTEXT_NAMESPACE "SObjectPropertyEntryBox"

namespace
{
constexpr int AssetRole = Qt::UserRole + 1;
} // namespace

SObjectPropertyEntryBox::SObjectPropertyEntryBox(const FAssetRegistry& InRegistry, FArguments InArgs, QWidget* Parent)
    : QWidget(Parent)
    , Registry(InRegistry)
    , Args(std::move(InArgs))
{
	setObjectName(QStringLiteral("SObjectPropertyEntryBox"));
	auto* Layout = new QHBoxLayout(this);
	Layout->setContentsMargins(0, 0, 0, 0);

	ValueButton = new QPushButton();
	ValueButton->setObjectName(QStringLiteral("ValueButton"));
	ValueButton->setMinimumHeight(28);
	auto* ButtonLayout = new QHBoxLayout(ValueButton);
	ButtonLayout->setContentsMargins(8, 2, 6, 2);
	ValueText = new QLabel();
	ValueText->setObjectName(QStringLiteral("ValueText"));
	ValueText->setAttribute(Qt::WA_TransparentForMouseEvents);
	ButtonLayout->addWidget(ValueText, 1);
	auto* Arrow = new QLabel();
	Arrow->setAttribute(Qt::WA_TransparentForMouseEvents);
	Arrow->setPixmap(FAppStyle::GetBrush(QStringLiteral("Icons.ChevronDown"), QSize(12, 12)));
	ButtonLayout->addWidget(Arrow);
	Layout->addWidget(ValueButton, 1);
	connect(ValueButton, &QPushButton::clicked, this, &SObjectPropertyEntryBox::OpenPicker);

	Picker = new QFrame(this, Qt::Popup);
	Picker->setObjectName(QStringLiteral("AssetPicker"));
	Picker->setFrameShape(QFrame::StyledPanel);
	auto* PickerLayout = new QVBoxLayout(Picker);
	PickerLayout->setContentsMargins(6, 6, 6, 6);
	ClearButton = new QPushButton(LOCTEXT("Clear", "Clear").ToString());
	ClearButton->setObjectName(QStringLiteral("ClearButton"));
	ClearButton->setFlat(true);
	connect(ClearButton, &QPushButton::clicked, this, [this] { Pick(FAssetData()); });
	PickerLayout->addWidget(ClearButton, 0, Qt::AlignLeft);
	SearchBox = new QLineEdit();
	SearchBox->setObjectName(QStringLiteral("SearchBox"));
	SearchBox->setPlaceholderText(LOCTEXT("SearchHint", "Search Assets").ToString());
	SearchBox->setClearButtonEnabled(true);
	connect(SearchBox, &QLineEdit::textChanged, this, &SObjectPropertyEntryBox::ApplySearch);
	PickerLayout->addWidget(SearchBox);
	AssetList = new QListWidget();
	AssetList->setObjectName(QStringLiteral("AssetList"));
	AssetList->setSelectionMode(QAbstractItemView::SingleSelection);
	connect(AssetList, &QListWidget::itemClicked, this,
	        [this](QListWidgetItem* Item)
	        {
		        const qsizetype Index = Item->data(AssetRole).toLongLong();
		        if (Index >= 0 && Index < Assets.size())
		        {
			        Pick(Assets[Index]);
		        }
	        });
	connect(AssetList, &QListWidget::itemActivated, AssetList, &QListWidget::itemClicked);
	PickerLayout->addWidget(AssetList, 1);
	// Return in the search field picks the first asset it leaves.
	connect(SearchBox, &QLineEdit::returnPressed, this,
	        [this]
	        {
		        for (int Row = 0; Row < AssetList->count(); ++Row)
		        {
			        if (!AssetList->item(Row)->isHidden())
			        {
				        Q_EMIT AssetList->itemClicked(AssetList->item(Row));
				        return;
			        }
		        }
	        });
	Picker->resize(360, 320);

	RefreshValue();
}

SObjectPropertyEntryBox::~SObjectPropertyEntryBox() = default;

QString SObjectPropertyEntryBox::GetObjectPath() const
{
	return ShownPath;
}

void SObjectPropertyEntryBox::RefreshValue()
{
	const QString Path = Args.ObjectPath ? Args.ObjectPath() : QString();
	if (Path == ShownPath && !ValueText->text().isEmpty())
	{
		return;
	}
	ShownPath = Path;
	const FSoftObjectPath Object(Path);
	QString Shown = Object.GetAssetName();
	if (!Object.GetSubPathString().isEmpty())
	{
		Shown += QLatin1Char(':') + Object.GetSubPathString();
	}
	if (Shown.isEmpty())
	{
		Shown = Path.isEmpty() ? LOCTEXT("None", "None").ToString() : Path;
	}
	ValueText->setText(Shown);
	ValueButton->setToolTip(Path);
}

void SObjectPropertyEntryBox::paintEvent(QPaintEvent* Event)
{
	// The value belongs to the owner: it is read anew whenever the box is drawn.
	RefreshValue();
	QWidget::paintEvent(Event);
}

void SObjectPropertyEntryBox::FillAssets()
{
	FARFilter Filter;
	if (Args.AllowedClass)
	{
		Filter.ClassPaths.append(FTopLevelAssetPath(Args.AllowedClass->GetPathName()));
		Filter.bRecursiveClasses = true;
	}
	Assets.clear();
	if (Filter.ClassPaths.isEmpty())
	{
		Registry.GetAllAssets(Assets);
	}
	else
	{
		Registry.GetAssets(Filter, Assets);
	}
	std::sort(Assets.begin(), Assets.end(),
	          [](const FAssetData& A, const FAssetData& B)
	          { return A.GetObjectPathString().compare(B.GetObjectPathString(), Qt::CaseInsensitive) < 0; });

	AssetList->clear();
	for (qsizetype Index = 0; Index < Assets.size(); ++Index)
	{
		const FAssetData& Asset = Assets[Index];
		auto* Item = new QListWidgetItem(Asset.AssetName, AssetList);
		Item->setToolTip(Asset.GetObjectPathString());
		Item->setData(AssetRole, qlonglong(Index));
		if (Asset.GetObjectPathString() == ShownPath)
		{
			AssetList->setCurrentItem(Item);
		}
	}
	ApplySearch();
}

void SObjectPropertyEntryBox::ApplySearch()
{
	const QString Search = SearchBox->text().trimmed();
	for (int Row = 0; Row < AssetList->count(); ++Row)
	{
		QListWidgetItem* Item = AssetList->item(Row);
		const bool bMatch = Search.isEmpty() || Item->text().contains(Search, Qt::CaseInsensitive) ||
		                    Item->toolTip().contains(Search, Qt::CaseInsensitive);
		Item->setHidden(!bMatch);
	}
}

QStringList SObjectPropertyEntryBox::GetListedObjectPaths() const
{
	QStringList Paths;
	for (int Row = 0; Row < AssetList->count(); ++Row)
	{
		if (!AssetList->item(Row)->isHidden())
		{
			Paths.append(AssetList->item(Row)->toolTip());
		}
	}
	return Paths;
}

void SObjectPropertyEntryBox::OpenPicker()
{
	RefreshValue();
	SearchBox->clear();
	FillAssets();
	// Below the box, or above it when there is no room below; never past the screen's edges.
	QPoint At = mapToGlobal(QPoint(0, height()));
	QSize Size(std::max(width(), 360), 320);
	if (const QScreen* Screen = screen())
	{
		const QRect Area = Screen->availableGeometry();
		Size = Size.boundedTo(Area.size());
		if (At.x() + Size.width() > Area.x() + Area.width())
		{
			At.setX(Area.x() + Area.width() - Size.width());
		}
		At.setX(std::max(At.x(), Area.x()));
		if (At.y() + Size.height() > Area.y() + Area.height())
		{
			At.setY(std::max(Area.y(), mapToGlobal(QPoint(0, 0)).y() - Size.height()));
		}
	}
	Picker->resize(Size);
	Picker->move(At);
	Picker->show();
	SearchBox->setFocus();
}

void SObjectPropertyEntryBox::ClosePicker()
{
	Picker->hide();
}

bool SObjectPropertyEntryBox::IsPickerOpen() const
{
	return Picker->isVisible();
}

void SObjectPropertyEntryBox::Pick(const FAssetData& AssetData)
{
	ClosePicker();
	Q_EMIT OnObjectChanged(AssetData);
	// The owner may have stored the pick.
	RefreshValue();
}

#undef LOCTEXT_NAMESPACE
