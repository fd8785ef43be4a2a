// SPDX-License-Identifier: GPL-3.0-or-later
#include "lang/ini_reader.h"
#include "ui/Lang.h"
#include "ui/errors.h"
#include "ui/exif_dialog.h"
#include "ui/support/window_fixture.h"

#include <QAction>
#include <QActionGroup>
#include <QCoreApplication>
#include <QDir>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QToolButton>
#include <QTreeWidget>
#include <QWidget>

using namespace testing_support;

namespace {

// A small window to translate: a button, an action, and properties of every kind.
class Probe : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int Count MEMBER count)
    Q_PROPERTY(QStringList Items MEMBER items)
public:
    Probe() {
        setObjectName("ProbeForm");
        button = new QPushButton("Old", this);
        button->setObjectName("btnGo");
        action = new QAction("Act", this);
        action->setObjectName("ActionGo");
    }
    int count = 0;
    QStringList items;
    QPushButton* button;
    QAction* action;
};

QString WriteLanguage(const TempDir& dir, const QString& name, const QByteArray& body) {
    const QString path = dir.qfile(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(body);
    return path;
}

QString Plain(QString text) {
    return text.remove(u'&');
}

} // namespace

TEST(TLanguage, PassesPathsKindsAndEvents) {
    TempDir dir;
    Probe probe;
    TLanguage lang(&probe);
    lang.setLanguageFile(WriteLanguage(
        dir, "x.lng",
        "[translations]\nprobeform.BTNGO.caption=New\nProbeForm.ActionGo.Hint=Tip\nProbeForm."
        "Caption=Title\n"
        "ProbeForm.Items= a, b,,c, \nProbeForm.NoSuch.Caption=x\nProbeForm.btnGo.NoSuchProperty=x\n"
        "ProbeForm.Count=12\n"));
    lang.Properties() << "ProbeForm.btnGo.Caption"
                      << "  "
                      << "ProbeForm.ActionGo.Hint"
                      << "ProbeForm.Caption"
                      << "ProbeForm.NoSuch.Caption"
                      << "ProbeForm.btnGo.NoSuchProperty"
                      << "ProbeForm.Count"
                      << "ProbeForm.Items"
                      << "ProbeForm.Missing.Key";
    lang.setSeparator(",");
    int before = 0, after = 0;
    QStringList seen;
    lang.OnBeforeTranslation = [&](TLanguage*) { ++before; };
    lang.OnAfterTranslation = [&](TLanguage*) { ++after; };
    lang.OnTranslate = [&](TLanguage*, QObject* c, const QString& prop, const QString& old,
                           QString& value) {
        seen << c->objectName() + "." + prop + ":" + old;
        if (prop == "Caption" && c == &probe) value = "Replaced";
    };
    lang.ApplyTranslations();
    EXPECT_EQ(probe.button->text(), "New");
    EXPECT_EQ(ActionHint(probe.action), "Tip");
    EXPECT_EQ(probe.windowTitle(), "Replaced");
    EXPECT_EQ(probe.count, 12);
    EXPECT_EQ(probe.items, QStringList({"a", "b", "", "c"}));
    EXPECT_EQ(before, 1);
    EXPECT_EQ(after, 1);
    EXPECT_TRUE(seen.contains("btnGo.Caption:Old")) << seen.join(' ').toStdString();

    // A whole number that is not one ends the pass with an error.
    lang.setLanguageFile(WriteLanguage(
        dir, "bad.lng", "[Translations]\nProbeForm.Count=twelve\nProbeForm.btnGo.Caption=Later\n"));
    lang.Properties() = QStringList{"ProbeForm.Count", "ProbeForm.btnGo.Caption"};
    EXPECT_THROW(lang.ApplyTranslations(), TulvexError);
    EXPECT_EQ(probe.button->text(), "New");
    EXPECT_EQ(after, 1);
}

TEST(TLanguage, SeparatorLookupAndEmptyValues) {
    TempDir dir;
    Probe probe;
    TLanguage lang(&probe);
    lang.setSeparator(" ");
    EXPECT_EQ(lang.Separator(), ",");
    lang.setSeparator(" ; ");
    EXPECT_EQ(lang.Separator(), " ; ");
    TLanguage plain(&probe);
    EXPECT_EQ(plain.SplitItems(" a,b "), QStringList{"a,b"});

    EXPECT_EQ(lang.LookupMessage("file(s)"), "file(s)");
    lang.setLanguageFile(WriteLanguage(
        dir, "m.lng",
        "[Messages]\nfile(s)=Datei(en)\nTag=\n[Translations]\nProbeForm.btnGo.Caption=\n"));
    EXPECT_EQ(lang.LookupMessage("file(s)"), "Datei(en)");
    EXPECT_EQ(lang.LookupMessage("Tag"), "");
    lang.Properties() << "ProbeForm.btnGo.Caption";
    lang.ApplyTranslations();
    EXPECT_EQ(probe.button->text(), "Old") << "an empty value leaves the property";
}

TEST(LanguageFiles, CompleteAndPlaceholdersInOrder) {
    const QString folder = QCoreApplication::applicationDirPath();
    const QStringList files = QDir(folder).entryList({"*.lng"}, QDir::Files);
    ASSERT_GE(files.size(), 4) << "English, Deutsch and at least two more";
    const lang::IniFile english = lang::IniFile::Load(folder + "/English.lng");
    const QStringList messageKeys = english.keys("Messages");
    const QStringList translationKeys = english.keys("Translations");
    EXPECT_EQ(translationKeys.size(), 29 + 3 + 2 + 2 + 2); // the last four: undo and redo
    const QRegularExpression placeholder("%[sud]");
    const auto placeholders = [&](const QString& text) {
        QStringList out;
        for (auto it = placeholder.globalMatch(text); it.hasNext();)
            out << it.next().captured();
        return out;
    };
    for (const QString& name : files) {
        const lang::IniFile file = lang::IniFile::Load(folder + "/" + name);
        EXPECT_EQ(file.keys("Messages"), messageKeys) << name.toStdString();
        EXPECT_EQ(file.keys("Translations"), translationKeys) << name.toStdString();
        for (const QString& key : messageKeys)
            EXPECT_EQ(placeholders(file.read("Messages", key, {})), placeholders(key))
                << name.toStdString() << ": " << key.toStdString();
        for (const QString& key : english.keys("Messages"))
            EXPECT_EQ(english.read("Messages", key, {}), key);
    }
}

TEST_F(WindowTest, ChoosingALanguageTranslatesTheWindowAndLaterDialogs) {
    MakePhotos(photos.qpath(), std::vector<int>(12, 1), 32, 24);
    Start(photos.qpath());
    QAction* deutsch = nullptr;
    for (QAction* a : Control<QMenu>("pmOptions")->actions())
        if (Plain(a->text()) == "Deutsch") deutsch = a;
    ASSERT_TRUE(deutsch);
    bool englishChecked = false;
    for (QAction* a : Control<QMenu>("pmOptions")->actions())
        englishChecked |= Plain(a->text()) == "English" && a->isChecked();
    EXPECT_TRUE(englishChecked);

    deutsch->trigger();
    EXPECT_TRUE(deutsch->isChecked());
    EXPECT_EQ(Action("ActionRotateLeft")->text(), "Links drehen");
    EXPECT_EQ(Control<QToolButton>("tbRotateLeft")->text(), "Links drehen");
    EXPECT_EQ(Control<QToolButton>("tbFavorites")->text(), "Favoriten");
    EXPECT_EQ(Control<QToolButton>("tbFavorites")->toolTip(), "Lieblingsordner");
    EXPECT_EQ(Action("ActionRotateLeft")->toolTip(), "Taste (L)");
    EXPECT_EQ(Plain(Action("pmiRefresh")->text()), "Aktualisieren");
    EXPECT_EQ(StatusText(1), "12 Datei(en)");
    EXPECT_EQ(Control<QMenu>("pmMru")->actions().first()->text(), "Aktuellen Ordner hinzufügen");
    EXPECT_TRUE(Action("pmiHiQuality")->isChecked()) << "the quality group is a group of its own";
    EXPECT_EQ(Control<QActionGroup>("QualityGroup")->actions(),
              (QList<QAction*>{Action("pmiHiQuality"), Action("pmiLowQuality")}));

    {
        TFormExif dialog(window.get(), window->language()->LanguageFile());
        EXPECT_EQ(dialog.windowTitle(), "EXIF-Eigenschaften");
        EXPECT_EQ(dialog.ListView->headerItem()->text(0), "Eigenschaft");
    }

    for (QAction* a : Control<QMenu>("pmOptions")->actions())
        if (Plain(a->text()) == "English") a->trigger();
    EXPECT_EQ(Action("ActionRotateLeft")->text(), "Rotate Left");
    EXPECT_EQ(StatusText(1), "12 file(s)");
    window.reset();
    session::SettingsStore store;
    static_cast<void>(store.load(session::SettingsStore::DefaultPath()));
    EXPECT_TRUE(store.readString("Language", {}).endsWith("/English.lng"));
}

TEST_F(WindowTest, ExifDialogRowsAndTheNoExifMessage) {
    TempDir dir;
    ExifSpec spec;
    spec.ifd0.push_back({0x0110, 2, 8, Ascii("DMC-FZ8")});
    spec.exif.push_back({0x829A, 5, 1, Rational(1, 250, jpeg::ByteOrder::Little)});
    WriteFile(photos.file("a.jpg"), MakeJpegWithExif(32, 32, spec));
    WriteFile(photos.file("b.jpg"), MakeJpeg(32, 32));
    Start(photos.qpath());

    int rows = -1;
    QString title;
    AnswerNextDialog<TFormExif>([&](TFormExif* d) {
        rows = d->rowCount();
        title = d->windowTitle();
        QTest::keyClick(d, Qt::Key_Escape);
    });
    Action("ActionDisplayExif")->trigger();
    EXPECT_EQ(rows, 3) << "model, orientation, exposure time";
    EXPECT_EQ(title, "a.jpg - EXIF Properties");

    ClickCell(1, 0);
    Action("ActionDisplayExif")->trigger();
    ASSERT_EQ(shell.shown.size(), 1u) << "shown once";
    EXPECT_EQ(shell.shown[0].text, "This file does not contain EXIF data.");

    QFile::remove(photos.qfile("b.jpg"));
    Action("ActionDisplayExif")->trigger();
    ASSERT_EQ(shell.shown.size(), 2u);
    EXPECT_EQ(shell.shown[1].text,
              "Cannot open \"b.jpg\". The file or folder has been moved or deleted.");
}

#include "language_test.moc"
