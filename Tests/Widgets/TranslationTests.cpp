#include "EditorFixture.h"

#include <QDir>
#include <QFile>
#include <QLocale>

namespace
{
// Restores the default locale however the test ends.
struct FLocaleScope
{
	explicit FLocaleScope(const QLocale& Locale) { QLocale::setDefault(Locale); }
	~FLocaleScope() { QLocale::setDefault(Previous); }
	QLocale Previous = QLocale();
};
} // namespace

using EditorTranslation = FEditorFixture;

// Fixtures/OrvaSDK_de.qm is Fixtures/OrvaSDK_de.ts compiled by Qt's lrelease: the plugin's texts
// come out translated by namespace and key, the others stay as they are.
TEST_F(EditorTranslation, ThePluginsTranslationForTheLanguageIsShown)
{
	const QString Plugin = Project.RootDir() + QStringLiteral("Plugin/");
	ASSERT_TRUE(QDir().mkpath(Plugin + QStringLiteral("Resources/Localization")));
	ASSERT_TRUE(QFile::copy(QStringLiteral(ORVA_SOURCE_DIR "/Tests/Widgets/Fixtures/OrvaSDK_de.qm"),
	                        Plugin + QStringLiteral("Resources/Localization/OrvaSDK_de.qm")));
	FLocaleScope German(QLocale(QLocale::German, QLocale::Germany));

	FOrvaEditorOptions Options;
	Options.ProjectFile = Project.ProjectFile();
	Options.UserSettingsDir = Project.UserSettingsDir();
	Options.PluginDir = Plugin;
	Options.bLogToFile = false;
	Options.Dialogs = std::make_unique<FPolicyDialogService>();
	Editor = std::make_unique<FOrvaEditorApp>(std::move(Options));
	Editor->Start();
	ASSERT_NE(Editor->GetTranslator(), nullptr);
	SOrvaEditorView* View = OpenView();
	ASSERT_NE(View, nullptr);
	SOrvaEditorLoginBox* Box = View->GetLoginBox();
	ASSERT_NE(Box, nullptr);
	EXPECT_EQ(Box->GetLoginButton()->findChild<QLabel*>()->text(), QStringLiteral("ANMELDEN"));
	EXPECT_EQ(Box->GetPasswordText()->placeholderText(), QStringLiteral("Passwort:"));
	EXPECT_EQ(Box->GetUserText()->placeholderText(), QStringLiteral("Email or PhoneNumber:"));

	Editor->Shutdown();
	EXPECT_EQ(NSLOCTEXT("SOrvaEditorLoginBox", "Login", "LOG IN").ToString(), QStringLiteral("LOG IN"));
}
