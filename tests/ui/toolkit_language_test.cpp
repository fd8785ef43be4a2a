// SPDX-License-Identifier: GPL-3.0-or-later
// The toolkit's own texts follow the language chosen in the window.
#include "ui/support/window_fixture.h"
#include "ui/toolkit_translation.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

using namespace testing_support;

namespace {

QString Plain(QString text) {
    return text.remove(u'&');
}

// The captions of a question box's Yes, No and Cancel, as "Yes/No/Cancel".
std::string StandardButtons() {
    QMessageBox box(QMessageBox::Question, QString(), QString(),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    return QStringList({Plain(box.button(QMessageBox::Yes)->text()),
                        Plain(box.button(QMessageBox::No)->text()),
                        Plain(box.button(QMessageBox::Cancel)->text())})
        .join(u'/')
        .toStdString();
}

bool HasToolkitTranslation(const QString& locale) {
    return QFileInfo::exists(ui::ToolkitTranslationsFolder() + "/qtbase_" + locale + ".qm");
}

QAction* LanguageItem(QWidget& window, const QString& caption) {
    auto* menu = window.findChild<QMenu*>("pmOptions");
    if (!menu) return nullptr;
    for (QAction* a : menu->actions())
        if (Plain(a->text()) == caption) return a;
    return nullptr;
}

} // namespace

TEST(ToolkitLocale, EveryShippedLanguageFileHasOne) {
    const QString folder = QCoreApplication::applicationDirPath();
    EXPECT_EQ(ui::ToolkitLocaleOf(folder + "/English.lng"), "") << "English needs none";
    EXPECT_EQ(ui::ToolkitLocaleOf(folder + "/Deutsch.lng"), "de");
    EXPECT_EQ(ui::ToolkitLocaleOf(folder + "/Español.lng"), "es");
    EXPECT_EQ(ui::ToolkitLocaleOf(folder + "/Français.lng"), "fr");
    EXPECT_EQ(ui::ToolkitLocaleOf("/elsewhere/deutsch.lng"), "de") << "the name, in any case";
    EXPECT_EQ(ui::ToolkitLocaleOf(folder + "/Klingon.lng"), "") << "unknown: the toolkit's English";
    EXPECT_EQ(ui::ToolkitLocaleOf(QString()), "");

    // A language file added without a locale would leave its dialogs half in English.
    const QStringList files = QDir(folder).entryList({"*.lng"}, QDir::Files);
    ASSERT_GE(files.size(), 4);
    for (const QString& name : files) {
        if (name == "English.lng") continue;
        const QString locale = ui::ToolkitLocaleOf(folder + "/" + name);
        EXPECT_FALSE(locale.isEmpty()) << name.toStdString();
        if (!locale.isEmpty() && QDir(ui::ToolkitTranslationsFolder()).exists())
            EXPECT_TRUE(HasToolkitTranslation(locale))
                << name.toStdString() << ": qtbase_" << locale.toStdString() << ".qm";
    }
}

TEST_F(WindowTest, StandardButtonsSpeakTheChosenLanguage) {
    if (!HasToolkitTranslation("de"))
        GTEST_SKIP() << "qtbase_de.qm is not in " << ui::ToolkitTranslationsFolder().toStdString()
                     << ": install qt6-translations-l10n (scripts/setup.sh does)";
    Start(photos.qpath());
    ASSERT_EQ(StandardButtons(), "Yes/No/Cancel");
    QAction* deutsch = LanguageItem(*window, "Deutsch");
    QAction* english = LanguageItem(*window, "English");
    ASSERT_TRUE(deutsch && english);

    deutsch->trigger();
    EXPECT_EQ(StandardButtons(), "Ja/Nein/Abbrechen");
    deutsch->trigger(); // chosen again: still German, one translation installed
    EXPECT_EQ(StandardButtons(), "Ja/Nein/Abbrechen");
    english->trigger();
    EXPECT_EQ(StandardButtons(), "Yes/No/Cancel");

    // The language saved by one run is the toolkit's too in the next.
    deutsch->trigger();
    window.reset();
    EXPECT_EQ(StandardButtons(), "Yes/No/Cancel") << "gone with the window";
    window = std::make_unique<TFormTulvex>();
    window->show();
    WaitForLoads(1);
    EXPECT_EQ(StandardButtons(), "Ja/Nein/Abbrechen");
}
