#pragma once

#include "AssetData.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

class FAssetRegistry;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class UClass;

// The editor's entry box for an object property: a button showing the current value that opens a
// picker of the registry's assets of one class (and its subclasses), with a search field and a
// "Clear" entry. It holds no value of its own: the value is read from ObjectPath whenever the box
// is drawn, and a pick is reported through OnObjectChanged, whose owner decides what to store.
class SObjectPropertyEntryBox : public QWidget
{
	Q_OBJECT

public:
	struct FArguments
	{
		// Only assets of this class or a subclass are offered; null offers every asset.
		const UClass* AllowedClass = nullptr;
		// The current value as an object path string ("/Game/Maps/Entry.Entry"); empty for none.
		std::function<QString()> ObjectPath;
	};

	// The registry outlives the box.
	SObjectPropertyEntryBox(const FAssetRegistry& InRegistry, FArguments InArgs, QWidget* Parent = nullptr);
	~SObjectPropertyEntryBox() override;

	// The object path the box shows now.
	QString GetObjectPath() const;
	// Reads the value again (drawing does that too).
	void RefreshValue();

	// The picker: filled from the registry each time it opens.
	void OpenPicker();
	void ClosePicker();
	bool IsPickerOpen() const;
	// The object paths the picker lists under the current search, in order.
	QStringList GetListedObjectPaths() const;

	QPushButton* GetValueButton() const { return ValueButton; }
	QLineEdit* GetSearchBox() const { return SearchBox; }
	QListWidget* GetAssetList() const { return AssetList; }
	QPushButton* GetClearButton() const { return ClearButton; }

Q_SIGNALS:
	// The picked asset, or invalid asset data when the value was cleared. Sent even when the pick
	// equals the current value: telling the two apart is the owner's business.
	void OnObjectChanged(const FAssetData& AssetData);

protected:
	void paintEvent(QPaintEvent* Event) override;

private:
	void FillAssets();
	void ApplySearch();
	void Pick(const FAssetData& AssetData);

	const FAssetRegistry& Registry;
	FArguments Args;
	QString ShownPath;
	QPushButton* ValueButton = nullptr;
	QLabel* ValueText = nullptr;
	// A popup window of its own, owned by this box.
	QFrame* Picker = nullptr;
	QLineEdit* SearchBox = nullptr;
	QListWidget* AssetList = nullptr;
	QPushButton* ClearButton = nullptr;
	QList<FAssetData> Assets;
};
