#include "app/Options.h"

#include "app/OutputFiles.h"
#include "app/globals.h"
#include "controls/BrowseDr.h"
#include "platform/shell/MessageBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <limits>

namespace {

const QString kInvalidInteger = QStringLiteral("'%1' is not a valid integer value");
const QString NoOutputFolder =
    QStringLiteral("Choose an output folder: the extracted files need a folder to go to.");
const QString RelativeOutputFolder =
    QStringLiteral("The output folder \"%1\" is not a full path. Give one that begins with \"/\" "
                   "(or \"~/\" for your home folder), or choose one with the button beside it.");

// The result codes the main window tests for.
constexpr int kResultOK = 1;
constexpr int kResultCancel = 2;

// Blanks and control characters trimmed from both ends.
QString TrimControls(const QString& text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first].unicode() <= 0x20)
        ++first;
    while (last > first && text[last - 1].unicode() <= 0x20)
        --last;
    return text.mid(first, last - first);
}

void Place(QWidget* w, int left, int top, int width, int height)
{
    w->setGeometry(left, top, width, height);
}

QLabel* MakeLabel(QWidget* parent, const QString& text, int left, int top)
{
    auto* label = new QLabel(text, parent);
    label->move(left, top);
    label->adjustSize();
    return label;
}

QComboBox* MakeList(QWidget* parent, const QStringList& items)
{
    auto* list = new QComboBox(parent);
    list->setEditable(false);
    list->addItems(items);
    list->setCurrentIndex(-1);
    return list;
}

void SelectByValue(QComboBox* list, int value)
{
    // Every matching item is selected in turn; the last one stays.
    for (int i = 0; i < list->count(); ++i) {
        bool ok = false;
        const int itemValue = list->itemText(i).toInt(&ok);
        if (ok && itemValue == value)
            list->setCurrentIndex(i);
    }
}

void SelectByIndex(QComboBox* list, int index)
{
    list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

} // namespace

int StrToInt(const QString& text)
{
    const auto fail = [&text]() -> int { throw EConvertError(kInvalidInteger.arg(text)); };
    qsizetype i = 0;
    while (i < text.size() && text[i] == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    int base = 10;
    if (i < text.size() && text[i] == QLatin1Char('$')) {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == QLatin1Char('0') &&
               (text[i + 1] == QLatin1Char('x') || text[i + 1] == QLatin1Char('X'))) {
        base = 16;
        i += 2;
    }
    const QString digits = text.mid(i);
    if (digits.isEmpty())
        return fail();
    for (QChar c : digits) {
        const bool digit = base == 10 ? (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
                                      : QStringLiteral("0123456789abcdefABCDEF").contains(c);
        if (!digit)
            return fail();
    }
    bool ok = false;
    const qlonglong magnitude = digits.toLongLong(&ok, base);
    const qlonglong value = negative ? -magnitude : magnitude;
    if (!ok || value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        return fail();
    return int(value);
}

TfrmOptions::TfrmOptions(QWidget* owner) : QDialog(owner)
{
    setWindowTitle(QStringLiteral("Options"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFont(QFont(QStringLiteral("Arial"), 9));
    setFixedSize(348, 325);

    GroupBox1 = new QGroupBox(QStringLiteral("Output Folder"), this);
    Place(GroupBox1, 9, 3, 329, 73);
    EditOutputDir = new QLineEdit(GroupBox1);
    Place(EditOutputDir, 8, 21, 289, 23);
    SpeedButtonOutputDir = new QToolButton(GroupBox1);
    Place(SpeedButtonOutputDir, 296, 21, 25, 21);
    SpeedButtonOutputDir->setAutoRaise(true);
    SpeedButtonOutputDir->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    SpeedButtonOutputDir->setToolTip(QStringLiteral("Browse for folder"));
    SpeedButtonOutputDir->setFocusPolicy(Qt::NoFocus);
    CheckBoxOpen = new QCheckBox(QStringLiteral("&Open Out Folder When Done ripping"), GroupBox1);
    Place(CheckBoxOpen, 8, 51, 305, 17);

    GroupBox2 = new QGroupBox(QStringLiteral("MP3 Settings"), this);
    Place(GroupBox2, 9, 83, 329, 209);
    CheckBox6 = new QCheckBox(QStringLiteral("Enable VBR"), GroupBox2);
    Place(CheckBox6, 9, 27, 96, 17);
    CheckBox7 = new QCheckBox(QStringLiteral("Write VBR header"), GroupBox2);
    Place(CheckBox7, 110, 27, 123, 17);
    Label1 = MakeLabel(GroupBox2, QStringLiteral("Sample Rate:"), 8, 57);
    ComboBox1 = MakeList(
        GroupBox2, {QStringLiteral("44100"), QStringLiteral("32000"), QStringLiteral("22050")});
    Place(ComboBox1, 96, 53, 97, 23);
    Label2 = MakeLabel(GroupBox2, QStringLiteral("Min. BitRate:"), 8, 86);
    ComboBox2 =
        MakeList(GroupBox2, {QStringLiteral("320"), QStringLiteral("256"), QStringLiteral("192"),
                             QStringLiteral("160"), QStringLiteral("128"), QStringLiteral("96")});
    Place(ComboBox2, 96, 82, 97, 23);
    Label4 = MakeLabel(GroupBox2, QStringLiteral("Max. BitRate:"), 8, 116);
    ComboBox3 = MakeList(GroupBox2, {QStringLiteral("320"), QStringLiteral("256"),
                                     QStringLiteral("192"), QStringLiteral("160")});
    Place(ComboBox3, 96, 112, 97, 23);
    Label8 = MakeLabel(GroupBox2, QStringLiteral("Stereo Mode:"), 8, 145);
    ComboBox4 = MakeList(GroupBox2, {QStringLiteral("Stereo"), QStringLiteral("Joint stereo"),
                                     QStringLiteral("Dual channel"), QStringLiteral("Mono")});
    Place(ComboBox4, 96, 141, 97, 23);
    Label10 = MakeLabel(GroupBox2, QStringLiteral("MPEG Quality:"), 8, 174);
    ComboBox5 = MakeList(GroupBox2, {QStringLiteral("Normal"), QStringLiteral("Low"),
                                     QStringLiteral("High"), QStringLiteral("Voice")});
    Place(ComboBox5, 96, 170, 97, 23);
    Label3 = MakeLabel(GroupBox2, QStringLiteral("VBR Quality:"), 218, 53);
    QStringList qualities;
    for (int q = 0; q <= 9; ++q)
        qualities.append(QString::number(q));
    ComboBox8 = MakeList(GroupBox2, qualities);
    Place(ComboBox8, 220, 81, 92, 23);
    CheckBox3 = new QCheckBox(QStringLiteral("Copyright"), GroupBox2);
    Place(CheckBox3, 222, 112, 97, 17);
    CheckBox4 = new QCheckBox(QStringLiteral("Original"), GroupBox2);
    Place(CheckBox4, 222, 133, 72, 17);
    CheckBox5 = new QCheckBox(QStringLiteral("CRC"), GroupBox2);
    Place(CheckBox5, 222, 155, 97, 17);
    CheckBox5->setChecked(true);
    CheckBox8 = new QCheckBox(QStringLiteral("Private"), GroupBox2);
    Place(CheckBox8, 222, 176, 67, 17);
    Label3->setBuddy(ComboBox8);
    Label1->setBuddy(ComboBox1);
    Label2->setBuddy(ComboBox2);
    Label4->setBuddy(ComboBox3);
    Label8->setBuddy(ComboBox4);
    Label10->setBuddy(ComboBox5);

    btnDefault = new QPushButton(QStringLiteral("Default"), this);
    Place(btnDefault, 9, 298, 75, 23);
    btnDefault->setAutoDefault(false);
    OK = new QPushButton(QStringLiteral("OK"), this);
    Place(OK, 176, 298, 75, 23);
    OK->setDefault(true);
    BitBtn1 = new QPushButton(QStringLiteral("Cancel"), this);
    Place(BitBtn1, 264, 298, 75, 23);
    BitBtn1->setAutoDefault(false);
    BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));

    // The output format is chosen by the extraction command; these two stay below the visible
    // area and are never read or written.
    Label9 = MakeLabel(this, QStringLiteral("Output Format:"), 8, 344);
    Label9->hide();
    ComboBox7 = MakeList(this, {QStringLiteral("WAV Files(PCM WAV,*.wav)"),
                                QStringLiteral("MP3 Files(MP3 Layer 3,*.mp3)")});
    Place(ComboBox7, 88, 339, 256, 23);
    ComboBox7->hide();

    // Tab order: the buttons OK and Cancel, the output folder group, the MP3 group (lists, then
    // the right-hand boxes, then the VBR boxes), Default.
    const QList<QWidget*> order{OK,        BitBtn1,   EditOutputDir, CheckBoxOpen, ComboBox1,
                                ComboBox2, ComboBox3, ComboBox4,     ComboBox5,    CheckBox5,
                                CheckBox3, CheckBox4, CheckBox8,     ComboBox8,    CheckBox7,
                                CheckBox6, btnDefault};
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);

    dfsBrowseDirectoryDlgOutputDir = new TdfsBrowseDirectoryDlg(this);
    dfsBrowseDirectoryDlgOutputDir->Title =
        QStringLiteral("Choose folder where ripped files should be saved:");
    dfsBrowseDirectoryDlgOutputDir->SetOptions(bfNewDialogStyle);
    dfsBrowseDirectoryDlgOutputDir->SetCaption(QStringLiteral("Browse for folder"));
    dfsBrowseDirectoryDlgOutputDir->ShowSelectionInStatus = true;

    connect(CheckBox6, &QCheckBox::toggled, this, [this] { CheckBox6Click(CheckBox6); });
    connect(OK, &QPushButton::clicked, this, [this] { OKClick(OK); });
    connect(BitBtn1, &QPushButton::clicked, this, [this] { done(kResultCancel); });
    connect(btnDefault, &QPushButton::clicked, this, [this] { btnDefaultClick(btnDefault); });
    connect(SpeedButtonOutputDir, &QToolButton::clicked, this,
            [this] { SpeedButtonOutputDirClick(SpeedButtonOutputDir); });

    FormCreate(this);
    OK->setFocus();
}

TfrmOptions::~TfrmOptions() = default;

void TfrmOptions::FormCreate(QObject*)
{
    EditOutputDir->setText(Settings.OutDir);
    CheckBoxOpen->setChecked(Settings.OpenWhenDone);

    SelectByValue(ComboBox1, Settings.SampleRates);
    SelectByValue(ComboBox2, Settings.BitRates);
    SelectByValue(ComboBox3, Settings.MaxBitRates);

    SelectByIndex(ComboBox4, Settings.Mode);
    SelectByIndex(ComboBox5, Settings.Quality);
    SelectByIndex(ComboBox8, Settings.VBRQuality);

    // Ticking Enable VBR here runs the enabling rule through its state change.
    CheckBox6->setChecked(Settings.EnableVBR != 0);
    CheckBox7->setChecked(Settings.WriteVBRHeader != 0);
    CheckBox3->setChecked(Settings.CopyRight != 0);
    CheckBox4->setChecked(Settings.Original != 0);
    CheckBox5->setChecked(Settings.CRC != 0);
    CheckBox8->setChecked(Settings.bPrivate != 0);
}

void TfrmOptions::OKClick(QObject*)
{
    // A folder that is no full path would put the files at the root, or wherever the program
    // was started: it is not stored, and the user is told why and stays in the dialog.
    const QString outDir = TrimControls(EditOutputDir->text());
    if (!OutputFolderProblem(outDir).isEmpty()) {
        TMessageBoxRequest box;
        box.Owner = this;
        box.Kind = TMsgDlgType::mtWarning;
        box.Caption = QGuiApplication::applicationDisplayName();
        box.Text = outDir.isEmpty() ? NoOutputFolder : RelativeOutputFolder.arg(outDir);
        box.Buttons = {TMsgDlgBtn::mbOK};
        box.Beep = true;
        MessageBoxes().Show(box);
        EditOutputDir->setFocus();
        EditOutputDir->selectAll();
        return;
    }
    Settings.OutDir = outDir;
    Settings.OpenWhenDone = CheckBoxOpen->isChecked();
    Settings.SampleRates = StrToInt(ComboBox1->currentText());
    Settings.BitRates = StrToInt(ComboBox2->currentText());
    Settings.MaxBitRates = StrToInt(ComboBox3->currentText());
    Settings.Mode = ComboBox4->currentIndex();
    Settings.Quality = ComboBox5->currentIndex();
    Settings.VBRQuality = ComboBox8->currentIndex();
    Settings.EnableVBR = CheckBox6->isChecked() ? -1 : 0;
    Settings.WriteVBRHeader = CheckBox7->isChecked() ? -1 : 0;
    Settings.CopyRight = CheckBox3->isChecked() ? -1 : 0;
    Settings.Original = CheckBox4->isChecked() ? -1 : 0;
    Settings.CRC = CheckBox5->isChecked() ? -1 : 0;
    Settings.bPrivate = CheckBox8->isChecked() ? -1 : 0;
    done(kResultOK);
}

void TfrmOptions::btnDefaultClick(QObject*)
{
    const bool confirmReplace = Settings.ConfirmReplace;
    SetDefaultSettings();
    Settings.ConfirmReplace = confirmReplace;
    FormCreate(btnDefault);
}

void TfrmOptions::CheckBox6Click(QObject*)
{
    const bool vbr = CheckBox6->isChecked();
    CheckBox7->setEnabled(vbr);
    ComboBox8->setEnabled(vbr);
    ComboBox3->setEnabled(vbr);
    ComboBox5->setEnabled(vbr);
}

void TfrmOptions::SpeedButtonOutputDirClick(QObject*)
{
    const QString text = EditOutputDir->text();
    if (!text.trimmed().isEmpty())
        dfsBrowseDirectoryDlgOutputDir->SetSelection(text);
    if (!dfsBrowseDirectoryDlgOutputDir->ShowDialog())
        return;
    QString folder = dfsBrowseDirectoryDlgOutputDir->Selection();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    EditOutputDir->setText(folder);
}

void TfrmOptions::reject()
{
    done(kResultCancel);
}
