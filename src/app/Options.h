#pragma once

#include "app/Exception.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class TdfsBrowseDirectoryDlg;

// Text that does not read as an integer.
class EConvertError : public Exception
{
public:
    using Exception::Exception;
};

// The integer value of `text`: optional leading blanks, an optional sign, then decimal digits,
// or hexadecimal ones after "0x", "0X" or "$". Throws EConvertError
// "'<text>' is not a valid integer value" otherwise.
int StrToInt(const QString& text);

// The options dialog: the output folder, whether it is opened after a job, and the MP3 encoder
// settings. It edits Settings in memory only; the main window applies the encoder settings
// after OK, and the settings file is written when the main window closes.
//
// OK closes with result 1 (mrOk), Cancel, Escape and the close box with 2 (mrCancel). OK on a
// value list that shows nothing throws EConvertError with the dialog left open; the fields
// stored before that one keep their new values.
class TfrmOptions : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmOptions(QWidget* owner = nullptr);
    ~TfrmOptions() override;

    // Loads the controls from Settings (on creation, and again after Default).
    void FormCreate(QObject* Sender = nullptr);
    // Stores the controls into Settings and closes with mrOk.
    void OKClick(QObject* Sender = nullptr);
    // Puts the built-in defaults into Settings (all but ConfirmReplace) and reloads.
    void btnDefaultClick(QObject* Sender = nullptr);
    // Enables the VBR controls while Enable VBR is ticked; runs when that box changes state.
    void CheckBox6Click(QObject* Sender = nullptr);
    // Lets the user choose the output folder.
    void SpeedButtonOutputDirClick(QObject* Sender = nullptr);

    void reject() override;

    QGroupBox* GroupBox1 = nullptr;
    QLineEdit* EditOutputDir = nullptr;
    QToolButton* SpeedButtonOutputDir = nullptr;
    QCheckBox* CheckBoxOpen = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QCheckBox* CheckBox6 = nullptr; // Enable VBR
    QCheckBox* CheckBox7 = nullptr; // Write VBR header
    QLabel* Label1 = nullptr;
    QComboBox* ComboBox1 = nullptr; // sample rate
    QLabel* Label2 = nullptr;
    QComboBox* ComboBox2 = nullptr; // minimum bitrate
    QLabel* Label4 = nullptr;
    QComboBox* ComboBox3 = nullptr; // maximum bitrate
    QLabel* Label8 = nullptr;
    QComboBox* ComboBox4 = nullptr; // stereo mode
    QLabel* Label10 = nullptr;
    QComboBox* ComboBox5 = nullptr; // MPEG quality
    QLabel* Label3 = nullptr;
    QComboBox* ComboBox8 = nullptr; // VBR quality
    QCheckBox* CheckBox3 = nullptr; // copyright
    QCheckBox* CheckBox4 = nullptr; // original
    QCheckBox* CheckBox5 = nullptr; // CRC
    QCheckBox* CheckBox8 = nullptr; // private
    QPushButton* btnDefault = nullptr;
    QPushButton* OK = nullptr;
    QPushButton* BitBtn1 = nullptr; // Cancel
    QLabel* Label9 = nullptr;       // output format, never shown
    QComboBox* ComboBox7 = nullptr;
    TdfsBrowseDirectoryDlg* dfsBrowseDirectoryDlgOutputDir = nullptr;
};
