// uVantrelCfg: the configuration dialog.  The user picks the serial port, its
// line settings and two values of the central here; the About page shows the
// program's picture and address.  The dialog edits the process-wide Settings
// only when OK is pressed, and then saves them at once; the new values take
// effect at the next connect.
#pragma once

#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <string>

#include "controls/VCtrlPm.h"
#include "serial/SerialPorts.h"

class QButtonGroup;
class QCheckBox;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;

// A group box with a column of radio buttons and one selected index.
class TRadioGroup : public QGroupBox {
public:
  TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent = nullptr);

  int Count() const { return FCount; }
  // -1 when nothing is selected.
  int ItemIndex() const;
  // An index below -1 becomes -1 (nothing selected), one at or beyond Count()
  // selects the last item.
  void SetItemIndex(int index);
  QRadioButton* Button(int index) const;

private:
  QButtonGroup* FGroup;
  int FCount;
};

// A label that reacts to a click (the web address).
class TClickLabel : public QLabel {
public:
  using QLabel::QLabel;
  std::function<void()> OnClick;

protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
};

// The port box: asks for the present ports just before its list drops down.
class TPortComboBox : public TComboBoxPemra {
public:
  using TComboBoxPemra::TComboBoxPemra;
  std::function<void()> OnDropDown;

  void showPopup() override;
};

class TFormVantrelCfg : public QDialog {
  Q_OBJECT

public:
  // Creating the dialog loads the settings (FormCreate).
  explicit TFormVantrelCfg(QWidget* parent = nullptr);
  ~TFormVantrelCfg() override;

  // The address on the About page.
  static QString WebAddress();

  // Where the port list is read from (tests point them at fake trees).
  void SetSysfsRoot(const std::string& root) { FSysfsRoot = root; }
  const std::string& SysfsRoot() const { return FSysfsRoot; }
  void SetByIdFolder(const std::string& folder) { FByIdFolder = folder; }

  // Opens a web address with the desktop's default handler; replaceable so
  // that a test launches no browser.
  using TUrlOpener = std::function<void(const QUrl&)>;
  void SetUrlOpener(TUrlOpener opener) { FUrlOpener = std::move(opener); }

  // Event handlers.
  // Loads the settings; a file that cannot be used is reported.
  void FormCreate();
  // Reads the file again first when someone else changed it meanwhile.
  void FormShow();
  // Copies the controls into Settings and saves them.  A baud rate that is no
  // positive integer is reported and keeps the dialog open with that field
  // focused; nothing is copied or saved then.  Otherwise throws when the
  // file cannot be written; the dialog closes with OK in any case and the new
  // values stay in effect.
  void BitBtnOKClick();
  void ComboBoxPortADropDown();
  void Label6Click();

  void SettingsToControls();
  void ControlsToSettings();

  // Controls, named as in the layout; public for the tests.
  QTabWidget* PageControlCfg = nullptr;
  QWidget* Panel1 = nullptr;
  QPushButton* BitBtnOK = nullptr;
  QPushButton* BitBtnCancel = nullptr;

  QWidget* TabSheet1 = nullptr;
  QGroupBox* GroupBoxPortA = nullptr;
  TPortComboBox* ComboBoxPortA = nullptr;
  QCheckBox* CheckBoxReconnect = nullptr;  // beside the port: open it again when it comes back
  TRadioGroup* RadioGroupParityA = nullptr;
  TRadioGroup* RadioGroupBitsA = nullptr;
  TRadioGroup* RadioGroupStopBitA = nullptr;
  QGroupBox* GroupBoxControlA = nullptr;
  QCheckBox* CheckBoxSoftFlowA = nullptr;
  QCheckBox* CheckBoxHardFlowA = nullptr;
  QGroupBox* GroupBox1 = nullptr;
  TEditPemra* EditBaudRate = nullptr;

  QWidget* TabSheet2 = nullptr;
  QGroupBox* GroupBoxMaxLoko = nullptr;
  QSpinBox* UpDownMaxLoko = nullptr;  // the spin box with its edit
  QGroupBox* GroupBox2 = nullptr;
  QSpinBox* UpDownAppID = nullptr;

  QWidget* TabSheet3 = nullptr;  // the sibling program's About page, hidden
  QLabel* ImageVodiv = nullptr;

  QWidget* TabSheet4 = nullptr;  // the About page
  QLabel* Image1 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label4 = nullptr;
  QLabel* Label5 = nullptr;
  TClickLabel* Label6 = nullptr;

protected:
  void showEvent(QShowEvent* event) override;

private:
  void BuildLayout();
  QWidget* BuildPortPage();
  QWidget* BuildCentralPage();
  struct TAboutPage {
    QWidget* Page;
    QLabel* Image;
    QLabel* Title;
    QLabel* Line1;
    QLabel* Line2;
    QLabel* Version;
    QLabel* Author;
    TClickLabel* Address;
  };
  TAboutPage BuildAboutPage(const QString& title, const QString& line1, const QString& line2);

  std::string FSysfsRoot = kSerialPortSource;  // the registry key on Windows
  std::string FByIdFolder = "/dev/serial/by-id";
  TUrlOpener FUrlOpener;
  bool FPlaced = false;
};

extern TFormVantrelCfg* FormVantrelCfg;  // view: the dialog main() made (it owns it)
