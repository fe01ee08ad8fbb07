#include "app/Exception.h"
#include "app/Options.h"
#include "app/globals.h"
#include "controls/BrowseDr.h"
#include "support/gui/FakeShellBrowser.h"
#include "support/gui/MessageBoxAnswerer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class Options : public ::testing::Test
{
protected:
    void SetUp() override { SetDefaultSettings(); }
    void TearDown() override { SetDefaultSettings(); }
};

QList<QWidget*> EnabledVBRControls(const TfrmOptions& dlg)
{
    QList<QWidget*> on;
    for (QWidget* w : {static_cast<QWidget*>(dlg.CheckBox7), static_cast<QWidget*>(dlg.ComboBox8),
                       static_cast<QWidget*>(dlg.ComboBox3), static_cast<QWidget*>(dlg.ComboBox5)})
        if (w->isEnabled())
            on.append(w);
    return on;
}

} // namespace

TEST_F(Options, LaysOutTheDialogAndItsTabOrder)
{
    TfrmOptions dlg;
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Options"));
    EXPECT_EQ(dlg.size(), QSize(348, 325));
    EXPECT_EQ(dlg.font().family(), QStringLiteral("Arial"));
    EXPECT_EQ(dlg.font().pointSize(), 9);
    EXPECT_EQ(dlg.GroupBox2->geometry(), QRect(9, 83, 329, 209));
    EXPECT_EQ(dlg.ComboBox8->geometry(), QRect(220, 81, 92, 23));
    EXPECT_EQ(dlg.OK->geometry(), QRect(176, 298, 75, 23));
    EXPECT_TRUE(dlg.OK->isDefault());
    EXPECT_EQ(dlg.ComboBox1->count(), 3);
    EXPECT_EQ(dlg.ComboBox8->count(), 10);
    EXPECT_TRUE(dlg.ComboBox7->isHidden());
    EXPECT_TRUE(dlg.Label9->isHidden());

    const QList<QWidget*> expected{
        dlg.OK,        dlg.BitBtn1,   dlg.EditOutputDir, dlg.CheckBoxOpen, dlg.ComboBox1,
        dlg.ComboBox2, dlg.ComboBox3, dlg.ComboBox4,     dlg.ComboBox5,    dlg.CheckBox5,
        dlg.CheckBox3, dlg.CheckBox4, dlg.CheckBox8,     dlg.ComboBox8,    dlg.CheckBox7,
        dlg.CheckBox6, dlg.btnDefault};
    for (qsizetype i = 1; i < expected.size(); ++i) {
        QWidget* next = expected[i - 1]->nextInFocusChain();
        while (next->focusPolicy() == Qt::NoFocus || !next->isEnabled() || next == dlg.ComboBox7 ||
               qobject_cast<QGroupBox*>(next) != nullptr)
            next = next->nextInFocusChain();
        EXPECT_EQ(next, expected[i]) << "after control " << i - 1;
    }

    auto* browse = dlg.dfsBrowseDirectoryDlgOutputDir;
    EXPECT_EQ(browse->Options(), TBrowseFlags(bfNewDialogStyle));
    EXPECT_EQ(browse->Caption(), QStringLiteral("Browse for folder"));
    EXPECT_TRUE(browse->ShowSelectionInStatus);
}

TEST_F(Options, LoadsAndStoresEveryField)
{
    Settings.OutDir = QStringLiteral(" \t/srv/rips \n");
    Settings.OpenWhenDone = false;
    Settings.SampleRates = 32000;
    Settings.BitRates = 192;
    Settings.MaxBitRates = 256;
    Settings.Mode = 3;
    Settings.Quality = 2;
    Settings.VBRQuality = 7;
    Settings.EnableVBR = 1; // any non-zero value reads as true
    Settings.WriteVBRHeader = 0;
    Settings.CRC = 0;
    Settings.bPrivate = -1;

    TfrmOptions dlg;
    EXPECT_EQ(dlg.ComboBox1->currentText(), QStringLiteral("32000"));
    EXPECT_EQ(dlg.ComboBox2->currentText(), QStringLiteral("192"));
    EXPECT_EQ(dlg.ComboBox3->currentText(), QStringLiteral("256"));
    EXPECT_EQ(dlg.ComboBox4->currentText(), QStringLiteral("Mono"));
    EXPECT_EQ(dlg.ComboBox5->currentText(), QStringLiteral("High"));
    EXPECT_EQ(dlg.ComboBox8->currentText(), QStringLiteral("7"));
    EXPECT_FALSE(dlg.CheckBox5->isChecked());
    EXPECT_TRUE(dlg.CheckBox8->isChecked());
    EXPECT_FALSE(dlg.CheckBoxOpen->isChecked());

    dlg.CheckBox3->setChecked(true);
    dlg.ComboBox2->setCurrentIndex(5); // 96
    dlg.OKClick();
    EXPECT_EQ(dlg.result(), 1);
    EXPECT_EQ(Settings.OutDir, QStringLiteral("/srv/rips"));
    EXPECT_FALSE(Settings.OpenWhenDone);
    EXPECT_EQ(Settings.SampleRates, 32000);
    EXPECT_EQ(Settings.BitRates, 96);
    EXPECT_EQ(Settings.MaxBitRates, 256);
    EXPECT_EQ(Settings.Mode, 3);
    EXPECT_EQ(Settings.Quality, 2);
    EXPECT_EQ(Settings.VBRQuality, 7);
    EXPECT_EQ(Settings.EnableVBR, -1); // true is stored as all bits set
    EXPECT_EQ(Settings.WriteVBRHeader, 0);
    EXPECT_EQ(Settings.CopyRight, -1);
    EXPECT_EQ(Settings.Original, 0);
    EXPECT_EQ(Settings.CRC, 0);
    EXPECT_EQ(Settings.bPrivate, -1);
}

TEST_F(Options, AValueNotInItsListFailsOKAfterTheFieldsBeforeIt)
{
    Settings.SampleRates = 11025;
    Settings.Mode = 7;
    TfrmOptions dlg;
    dlg.show();
    EXPECT_EQ(dlg.ComboBox1->currentText(), QString());
    EXPECT_EQ(dlg.ComboBox4->currentIndex(), -1);

    dlg.EditOutputDir->setText(QStringLiteral("/srv/new"));
    dlg.CheckBoxOpen->setChecked(false);
    dlg.ComboBox2->setCurrentIndex(0); // 320, not stored: the failure comes first
    try {
        dlg.OKClick();
        FAIL() << "OK succeeded";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("'' is not a valid integer value"));
    }
    // The OK button raises it too, for the application's error report to show.
    EXPECT_THROW(dlg.OK->click(), EConvertError);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), 0);
    EXPECT_EQ(Settings.OutDir, QStringLiteral("/srv/new"));
    EXPECT_FALSE(Settings.OpenWhenDone);
    EXPECT_EQ(Settings.SampleRates, 11025);
    EXPECT_EQ(Settings.BitRates, 128);

    // Picking a rate lets OK through; the stereo mode that showed nothing is stored as -1.
    dlg.ComboBox1->setCurrentIndex(2);
    dlg.OKClick();
    EXPECT_EQ(Settings.SampleRates, 22050);
    EXPECT_EQ(Settings.BitRates, 320);
    EXPECT_EQ(Settings.Mode, -1);
    EXPECT_FALSE(dlg.isVisible());
}

TEST_F(Options, OKRefusesAFolderThatIsNoFullPathAndSaysWhy)
{
    TMessageBoxAnswerer boxes;
    Settings.OutDir = QStringLiteral("/srv/old");
    TfrmOptions dlg;
    dlg.show();
    for (const char* outDir : {"", " \t ", "Music", "../Music"}) {
        dlg.EditOutputDir->setText(QString::fromUtf8(outDir));
        dlg.CheckBoxOpen->setChecked(false);
        dlg.OKClick();
        // Nothing is stored, and the dialog stays open on the folder.
        EXPECT_EQ(Settings.OutDir, QStringLiteral("/srv/old"));
        EXPECT_TRUE(Settings.OpenWhenDone);
        EXPECT_TRUE(dlg.isVisible());
    }
    ASSERT_EQ(boxes.Shown().size(), 4);
    EXPECT_EQ(
        boxes.Shown()[1].Text,
        QStringLiteral("Choose an output folder: the extracted files need a folder to go to."));
    EXPECT_TRUE(boxes.Shown()[2].Text.startsWith(
        QStringLiteral("The output folder \"Music\" is not a full path.")));
    EXPECT_EQ(boxes.Shown()[2].Kind, TMsgDlgType::mtWarning);
    // The home folder's short form is a full path; it is kept as typed.
    dlg.EditOutputDir->setText(QStringLiteral("~/Music"));
    dlg.OKClick();
    EXPECT_EQ(Settings.OutDir, QStringLiteral("~/Music"));
    EXPECT_FALSE(dlg.isVisible());
}

TEST_F(Options, VBRControlsFollowTheEnableBoxOnlyWhenItChangesState)
{
    Settings.EnableVBR = 0;
    TfrmOptions off;
    EXPECT_FALSE(off.CheckBox6->isChecked());
    EXPECT_EQ(EnabledVBRControls(off).size(), 4); // no state change, so the rule never ran
    off.CheckBox6->setChecked(true);
    EXPECT_EQ(EnabledVBRControls(off).size(), 4);
    off.CheckBox6->setChecked(false);
    EXPECT_TRUE(EnabledVBRControls(off).isEmpty());
    EXPECT_TRUE(off.ComboBox4->isEnabled());

    // Disabled controls are stored as usual.
    off.ComboBox5->setCurrentIndex(3);
    off.OKClick();
    EXPECT_EQ(Settings.Quality, 3);
    EXPECT_EQ(Settings.EnableVBR, 0);

    Settings.EnableVBR = -1;
    TfrmOptions on;
    EXPECT_TRUE(on.CheckBox6->isChecked());
    EXPECT_EQ(EnabledVBRControls(on).size(), 4);
}

TEST_F(Options, DefaultThenCancelKeepsTheDefaultsInSettings)
{
    Settings.ConfirmReplace = false;
    Settings.OutDir = QStringLiteral("/srv/old");
    Settings.SampleRates = 22050;
    Settings.EnableVBR = 0;
    Settings.CRC = 0;
    TfrmOptions dlg;
    dlg.btnDefaultClick();
    EXPECT_FALSE(Settings.ConfirmReplace);
    EXPECT_EQ(Settings.OutDir, QDir::homePath() + QStringLiteral("/Music"));
    EXPECT_EQ(Settings.SampleRates, 44100);
    EXPECT_EQ(Settings.EnableVBR, -1);
    EXPECT_EQ(Settings.CRC, -1);
    EXPECT_EQ(dlg.EditOutputDir->text(), Settings.OutDir);
    EXPECT_EQ(dlg.ComboBox1->currentText(), QStringLiteral("44100"));
    EXPECT_EQ(dlg.ComboBox2->currentText(), QStringLiteral("128"));
    EXPECT_TRUE(dlg.CheckBox6->isChecked());

    dlg.show();
    dlg.BitBtn1->click();
    EXPECT_EQ(dlg.result(), 2);
    EXPECT_EQ(Settings.SampleRates, 44100);
    EXPECT_EQ(Settings.OutDir, QDir::homePath() + QStringLiteral("/Music"));

    TfrmOptions escaped;
    escaped.show();
    escaped.reject();
    EXPECT_EQ(escaped.result(), 2);
}

TEST_F(Options, BrowseFillsTheFolderWithATrailingSeparator)
{
    QTemporaryDir dir;
    const QString music = QDir::cleanPath(dir.path() + QStringLiteral("/Music"));
    QDir().mkpath(music);
    TFakeShellBrowser browser;
    std::optional<TShellItem> answer;
    browser.User = [&](TFakeShellBrowser&) { return answer; };

    Settings.OutDir = QString();
    TfrmOptions dlg;
    // An empty box opens the browser without a selection.
    answer = TShellItem{music, QStringLiteral("Music")};
    dlg.SpeedButtonOutputDirClick();
    EXPECT_EQ(browser.Info.Flags, 68u);
    EXPECT_TRUE(browser.SelectedPaths.isEmpty());
    EXPECT_EQ(browser.Text, QStringLiteral("Browse for folder"));
    EXPECT_EQ(dlg.EditOutputDir->text(), music + QLatin1Char('/'));

    // The box's folder is where the browser opens; a root gets no second separator.
    answer = TShellItem{QStringLiteral("/"), QStringLiteral("File System")};
    dlg.SpeedButtonOutputDirClick();
    EXPECT_EQ(browser.SelectedPaths, QStringList{music});
    EXPECT_EQ(dlg.EditOutputDir->text(), QStringLiteral("/"));

    // Cancel changes nothing.
    answer.reset();
    dlg.SpeedButtonOutputDirClick();
    EXPECT_EQ(dlg.EditOutputDir->text(), QStringLiteral("/"));

    // An item without a path still counts as chosen: the box gets a lone separator.
    dlg.EditOutputDir->setText(music);
    answer = TShellItem{QString(), QStringLiteral("Desktop")};
    dlg.SpeedButtonOutputDirClick();
    EXPECT_EQ(dlg.EditOutputDir->text(), QStringLiteral("/"));
}

TEST(StrToInt, ReadsDecimalAndHexadecimalAndRejectsTheRest)
{
    EXPECT_EQ(StrToInt(QStringLiteral("44100")), 44100);
    EXPECT_EQ(StrToInt(QStringLiteral("  -7")), -7);
    EXPECT_EQ(StrToInt(QStringLiteral("$1F")), 31);
    EXPECT_EQ(StrToInt(QStringLiteral("0x10")), 16);
    for (const char* bad : {"", " ", "12a", "0x", "1 ", "99999999999"})
        EXPECT_THROW(StrToInt(QString::fromLatin1(bad)), EConvertError) << bad;
}
