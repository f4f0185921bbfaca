// The configuration dialog against a real INI file in a temporary folder,
// driven through its widgets on the offscreen platform.
#include "config/uVantrelCfg.h"

#include <gtest/gtest.h>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif
#include <cstdlib>
#include <memory>

#include "../support/Captions.h"
#include "config/IniFile.h"
#include "config/Settings.h"
#include "controls/MsgBox.h"

namespace {

class CfgDialog : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(FDir.isValid());
    FIni = FDir.filePath("vVantrelBus.ini");
    SetSettingsFileName(FIni.toStdString());
    Settings = TSettings{};
    FOldBox = SetMessageBoxHandler(
        [this](QWidget*, const QString&, const QString& text, TMsgIcon icon, TMsgButtons) {
          Boxes << text;
          BoxIcons.push_back(icon);
          return TMsgResult::Ok;
        });
    FOldReporter = SetErrorReporter([this](const QString& message) { Reported << message; });
  }
  void TearDown() override {
    Dialog.reset();
    SetMessageBoxHandler(FOldBox);
    SetErrorReporter(FOldReporter);
    SetSettingsFileName("");
  }

  void WriteIni(const QByteArray& text) {
    QFile f(FIni);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
  }
  QString ReadIni() const {
    QFile f(FIni);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
  }
  // Creating the dialog loads the settings, as at program start.
  void Create() {
    Dialog = std::make_unique<TFormVantrelCfg>();
    Dialog->SetUrlOpener([this](const QUrl& url) { Opened << url.toString(); });
  }
  QStringList PortItems() const {
    QStringList items;
    for (int i = 0; i < Dialog->ComboBoxPortA->count(); ++i)
      items << Dialog->ComboBoxPortA->itemText(i);
    return items;
  }
  void Show() {
    Dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Dialog.get()));
  }

  QTemporaryDir FDir;
  QString FIni;
  std::unique_ptr<TFormVantrelCfg> Dialog;
  QStringList Boxes;
  std::vector<TMsgIcon> BoxIcons;
  QStringList Reported;
  QStringList Opened;
  TMessageBoxHandler FOldBox;
  TErrorReporter FOldReporter;
};

QStringList VisibleTabs(QTabWidget* tabs) {
  QStringList texts;
  for (int i = 0; i < tabs->count(); ++i)
    if (tabs->isTabVisible(i)) texts << tabs->tabText(i);
  return texts;
}

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// Where permission bits do not keep the program out of a folder (root;
// Windows, whose folders have no such bits), a plain file stands in the
// folder's place.
bool ModesIgnored() {
#ifdef _WIN32
  return true;
#else
  return geteuid() == 0;
#endif
}

QString Selected(const TRadioGroup* group) {
  const int index = group->ItemIndex();
  return index < 0 ? QString("(none)") : group->Button(index)->text();
}

}  // namespace

TEST_F(CfgDialog, FirstStartShowsDefaultsAndCreatesNoFile) {
  Create();
  Show();
  EXPECT_EQ(Dialog->ComboBoxPortA->currentText(), "COM1");
  EXPECT_EQ(Dialog->ComboBoxPortA->count(), 12);
  EXPECT_EQ(Dialog->ComboBoxPortA->itemText(11), "COM12");
  EXPECT_EQ(Dialog->EditBaudRate->text(), "9600");
  EXPECT_EQ(Dialog->RadioGroupParityA->ItemIndex(), 0);
  EXPECT_EQ(Selected(Dialog->RadioGroupBitsA), "8");
  EXPECT_EQ(Selected(Dialog->RadioGroupStopBitA), "1");
  EXPECT_FALSE(Dialog->CheckBoxSoftFlowA->isChecked());
  EXPECT_FALSE(Dialog->CheckBoxHardFlowA->isChecked());
  EXPECT_EQ(Dialog->UpDownMaxLoko->value(), 16);
  EXPECT_EQ(Dialog->UpDownAppID->value(), 1);
  EXPECT_FALSE(QFile::exists(FIni));

  EXPECT_EQ(VisibleTabs(Dialog->PageControlCfg),
            QStringList({"Komunikace", "Centrála", "O aplikaci"}));
  EXPECT_EQ(Dialog->PageControlCfg->currentWidget(), Dialog->TabSheet1);
  EXPECT_EQ(Dialog->minimumSize(), Dialog->maximumSize());  // not resizable
  EXPECT_GE(Dialog->width(), 351);
  ASSERT_FALSE(Dialog->Image1->pixmap().isNull());
  EXPECT_EQ(Dialog->Image1->pixmap().size(), QSize(73, 57));
}

TEST_F(CfgDialog, OkWithoutChangesWritesTheNineKeys) {
  Create();
  Show();
  QTest::mouseClick(Dialog->BitBtnOK, Qt::LeftButton);
  EXPECT_EQ(Dialog->result(), QDialog::Accepted);
  EXPECT_FALSE(Dialog->isVisible());
  const QString ini = ReadIni();
  for (const char* line : {"Port=COM1", "Baud=9600", "Parity=0", "Bits=8", "StopBit=0",
                           "SoftFlow=0", "HardFlow=0", "AppID=1", "MaxLoko=16"})
    EXPECT_TRUE(ini.contains(line)) << line << " missing in\n" << ini.toStdString();
  EXPECT_FALSE(ini.contains("Timeout"));
  EXPECT_TRUE(Reported.isEmpty());
}

TEST_F(CfgDialog, CancelAndWebAddressChangeNothing) {
  WriteIni("[Comm]\nParity=1\n");
  Create();
  Show();
  Dialog->RadioGroupParityA->Button(2)->click();  // Even
  QTest::mouseClick(Dialog->BitBtnCancel, Qt::LeftButton);
  EXPECT_EQ(Dialog->result(), QDialog::Rejected);
  EXPECT_EQ(Settings.Parity, 1);
  EXPECT_FALSE(ReadIni().contains("Parity=2"));
  Show();  // the next showing starts again from the stored values
  EXPECT_EQ(Dialog->RadioGroupParityA->ItemIndex(), 1);

  Dialog->PageControlCfg->setCurrentWidget(Dialog->TabSheet4);
  Dialog->RadioGroupParityA->Button(4)->click();
  QTest::mouseClick(Dialog->Label6, Qt::LeftButton);
  EXPECT_EQ(Opened, QStringList{TFormVantrelCfg::WebAddress()});
  EXPECT_EQ(Dialog->result(), QDialog::Rejected);
  EXPECT_FALSE(Dialog->isVisible());
  EXPECT_EQ(Settings.Parity, 1);
  EXPECT_EQ(ReadIni(), "[Comm]\nParity=1\n");
}

TEST_F(CfgDialog, OutOfRangeStoredValuesAreShownClampedAndStoredAsShown) {
  WriteIni("[Comm]\nParity=7\nBits=9\nStopBit=-3\n[Central]\nAppID=-5\nMaxLoko=65544\n");
  Create();
  Show();
  EXPECT_EQ(Selected(Dialog->RadioGroupParityA), "Space");
  EXPECT_EQ(Selected(Dialog->RadioGroupBitsA), "8");
  EXPECT_EQ(Dialog->RadioGroupStopBitA->ItemIndex(), -1);  // nothing selected
  EXPECT_EQ(Dialog->UpDownAppID->value(), 0);
  EXPECT_EQ(Dialog->UpDownMaxLoko->value(), 32);  // clamped, not cut to 16 bits
  QTest::mouseClick(Dialog->BitBtnOK, Qt::LeftButton);
  EXPECT_EQ(Settings.Parity, 4);
  EXPECT_EQ(Settings.Bits, 8);
  EXPECT_EQ(Settings.StopBit, -1);
  EXPECT_EQ(Settings.AppID, 0);
  EXPECT_EQ(Settings.MaxLoko, 32);

  // A stored value so low that "Bits - 6" would overflow selects nothing.
  WriteIni("[Comm]\nBits=-2147483648\n");
  LoadSettings();
  Show();
  EXPECT_EQ(Dialog->RadioGroupBitsA->ItemIndex(), -1);
}

TEST_F(CfgDialog, TypedPortIsStoredAsTyped) {
  Create();
  Show();
  for (const QString& port :
       {QStringLiteral("COM7"), QStringLiteral("/dev/serial/by-id/usb-Adapter_01-if00")}) {
    QLineEdit* edit = Dialog->ComboBoxPortA->lineEdit();
    edit->selectAll();
    QTest::keyClicks(edit, port);
    Dialog->BitBtnOKClick();
    EXPECT_EQ(Settings.Port, port.toStdString());
    EXPECT_TRUE(ReadIni().contains("Port=" + port));
    Show();
    EXPECT_EQ(Dialog->ComboBoxPortA->currentText(), port);
  }
}

TEST_F(CfgDialog, BaudRateThatIsNoPositiveNumberKeepsTheDialogOpenAndSavesNothing) {
  WriteIni("[Comm]\nBaud=19200\n");
  Create();
  Show();
  Dialog->CheckBoxSoftFlowA->setChecked(true);
  for (const char* typed : {"abc", "0"}) {
    Dialog->EditBaudRate->SetText(typed);
    QTest::mouseClick(Dialog->BitBtnOK, Qt::LeftButton);
    EXPECT_TRUE(Dialog->isVisible()) << typed;
    EXPECT_EQ(Dialog->focusWidget(), Dialog->EditBaudRate) << typed;
  }
  EXPECT_EQ(Boxes, QStringList({" Chybný formát dat ", " Chybný formát dat "}));
  EXPECT_FALSE(Settings.SoftFlow) << "nothing copied";
  EXPECT_EQ(ReadIni(), "[Comm]\nBaud=19200\n");
}

// "Automaticky znovu připojit": on by default, kept in the window's section
// beside its placement, and the groups of the page keep their places.
TEST_F(CfgDialog, ReconnectBoxIsOnByDefaultAndSavedInTheMonitorSection) {
  WriteIni("[Comm]\nPort=COM2\n[Monitor]\nLeft=5\n");
  Create();
  Show();
  EXPECT_TRUE(Dialog->CheckBoxReconnect->isChecked());
  EXPECT_EQ(Dialog->CheckBoxReconnect->parentWidget(), Dialog->TabSheet1);
  EXPECT_EQ(Dialog->GroupBoxPortA->y(), 16);
  EXPECT_GE(Dialog->CheckBoxReconnect->x(), Dialog->GroupBoxPortA->geometry().right());
  Dialog->CheckBoxReconnect->setChecked(false);
  QTest::mouseClick(Dialog->BitBtnOK, Qt::LeftButton);
  EXPECT_FALSE(Settings.Reconnect);
  EXPECT_TRUE(ReadIni().contains("[Monitor]\nLeft=5\nReconnect=0\n")) << ReadIni().toStdString();
}

TEST_F(CfgDialog, FailedSaveIsReportedAndValuesStayInEffect) {
  // A folder the program cannot write to.
  const QString folder = FDir.filePath("locked");
  if (ModesIgnored()) {
    QFile f(folder);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  } else {
    ASSERT_TRUE(QDir().mkdir(folder));
    ASSERT_TRUE(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
  }
  SetSettingsFileName((folder + "/vVantrelBus.ini").toStdString());
  Create();
  Show();
  Dialog->ComboBoxPortA->setEditText("COM9");
  Dialog->CheckBoxHardFlowA->setChecked(true);
  try {
    Dialog->BitBtnOKClick();
    ADD_FAILURE() << "no error escaped";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()),
              "Unable to write to " + folder.toStdString() + "/vVantrelBus.ini");
  }
  EXPECT_EQ(Settings.Port, "COM9");
  EXPECT_TRUE(Settings.HardFlow);
  EXPECT_EQ(Dialog->result(), QDialog::Accepted);  // closes with OK all the same

  // Through the button the error goes to the application's error reporting,
  // with the reason in Czech.
  Show();
  QTest::mouseClick(Dialog->BitBtnOK, Qt::LeftButton);
  ASSERT_EQ(Reported.size(), 1);
  // Windows reports a path through a plain file as a missing folder.
  const char* const kThroughFile = kWindows ? "složka neexistuje" : "část cesty není složka";
  const QString reason =
      QString::fromUtf8(ModesIgnored() ? kThroughFile : "do složky nelze zapisovat");
  EXPECT_EQ(Reported[0], "Unable to write to " + folder + "/vVantrelBus.ini\nDůvod: " + reason);
  EXPECT_FALSE(Dialog->isVisible());
  EXPECT_EQ(Settings.Port, "COM9");
  QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

#ifdef _WIN32
TEST_F(CfgDialog, PortListShowsThePortsOfTheSystemsDeviceMap) {
  // scripts/test-windows declares its COM ports in wine's device map.
  const char* port = std::getenv("VANTREL_TEST_PORT");
  if (!port || !*port) GTEST_SKIP() << "VANTREL_TEST_PORT names no declared COM port";
  Create();
  Show();
  Dialog->ComboBoxPortA->setEditText("COM99");
  Dialog->ComboBoxPortA->showPopup();
  QStringList items = PortItems();
  EXPECT_TRUE(items.contains(QString::fromUtf8(port))) << items.join(",").toStdString();
  EXPECT_EQ(Dialog->ComboBoxPortA->currentText(), "COM99");
  Dialog->ComboBoxPortA->hidePopup();
}
#else
// The Linux port list: sysfs, by-id links and FIFOs.
TEST_F(CfgDialog, PortListShowsPresentPortsAndKeepsTypedText) {
  // A fake sysfs tty class: three ports bound to drivers (one with a name
  // that needs quoting in the list text), one virtual terminal.
  const QString root = FDir.filePath("tty");
  ASSERT_TRUE(QDir().mkpath(root + "/tty1"));
  for (const auto& [name, driver] :
       {std::pair{"ttyUSB0", "ftdi_sio"}, std::pair{"ttyACM0", "cdc_acm"},
        std::pair{"usb \"a\", b", "ch341"}}) {
    ASSERT_TRUE(QDir().mkpath(root + "/" + name + "/device"));
    ASSERT_EQ(symlink((std::string("../../../bus/usb/drivers/") + driver).c_str(),
                      (root + "/" + name + "/device/driver").toStdString().c_str()),
              0);
  }
  Create();
  Dialog->SetSysfsRoot(root.toStdString());
  Show();
  Dialog->ComboBoxPortA->setEditText("/dev/pts/7");
  Dialog->ComboBoxPortA->showPopup();
  QStringList items = PortItems();
  items.sort();
  EXPECT_EQ(items, QStringList({"/dev/ttyACM0", "/dev/ttyUSB0", "/dev/usb \"a\", b"}));
  EXPECT_EQ(Dialog->ComboBoxPortA->currentText(), "/dev/pts/7");
  Dialog->ComboBoxPortA->hidePopup();

  // No ports at all: the list opens empty, the text stays.
  Dialog->SetSysfsRoot(FDir.filePath("missing").toStdString());
  Dialog->ComboBoxPortA->setEditText("/dev/ttyACM0");
  Dialog->ComboBoxPortA->showPopup();
  EXPECT_EQ(Dialog->ComboBoxPortA->count(), 0);
  EXPECT_EQ(Dialog->ComboBoxPortA->currentText(), "/dev/ttyACM0");
  Dialog->ComboBoxPortA->hidePopup();
  Dialog->BitBtnOKClick();
  EXPECT_EQ(Settings.Port, "/dev/ttyACM0");
}

#endif

TEST_F(CfgDialog, LayoutKeepsItsSizesAndNoCaptionIsCut) {
  // The sizes are those of the fonts the layout was drawn with.  A test
  // program under wine gets other fonts than the window there (whose dialog
  // keeps these sizes: scripts/test-windows shows the window itself).
  if (kWindows) GTEST_SKIP() << "the fonts of a test program under wine differ from the window's";
  Create();
  Show();
  EXPECT_EQ(Dialog->size(), QSize(351, 318));
  EXPECT_EQ(Dialog->BitBtnOK->mapTo(Dialog.get(), QPoint()).x(), 72);
  EXPECT_EQ(Dialog->BitBtnCancel->mapTo(Dialog.get(), QPoint()).x(), 184);
  EXPECT_EQ(Dialog->font().pixelSize(), 11);
  EXPECT_FALSE(Dialog->font().bold());
  EXPECT_EQ(Dialog->ComboBoxPortA->width(), 89);
  for (QWidget* page : {Dialog->TabSheet1, Dialog->TabSheet2, Dialog->TabSheet4}) {
    Dialog->PageControlCfg->setCurrentWidget(page);
    EXPECT_EQ(test_support::ClippedCaptions(Dialog.get()), QStringList())
        << page->objectName().toStdString();
  }
}

TEST_F(CfgDialog, ShowingRereadsAFileChangedByAnotherWindow) {
  WriteIni("[Comm]\nPort=COM2\nBaud=9600\n");
  Create();  // this window loads COM2
  TIniFile other(FIni.toStdString());
  other.WriteString("Comm", "Port", "/dev/ttyUSB3");  // the other window saves meanwhile
  other.WriteString("Comm", "Baud", "115200");
  Show();
  EXPECT_EQ(Dialog->ComboBoxPortA->currentText(), "/dev/ttyUSB3");
  EXPECT_EQ(Dialog->EditBaudRate->text(), "115200");
  Dialog->CheckBoxHardFlowA->setChecked(true);
  QTest::mouseClick(Dialog->BitBtnOK, Qt::LeftButton);
  const QString ini = ReadIni();
  EXPECT_TRUE(ini.contains("Port=/dev/ttyUSB3")) << ini.toStdString();
  EXPECT_TRUE(ini.contains("Baud=115200"));
  EXPECT_TRUE(ini.contains("HardFlow=1"));
}

#ifndef _WIN32
// FIFOs and by-id links exist on Linux only.
TEST_F(CfgDialog, UnusableFileIsReportedAtStartAndNeverWritten) {
  ASSERT_EQ(mkfifo(FIni.toLocal8Bit().constData(), 0600), 0);
  Create();  // would hang reading a FIFO without writer
  ASSERT_EQ(Reported.size(), 1);
  EXPECT_TRUE(Reported[0].startsWith("Soubor nastavení " + FIni +
                                     " nelze použít: není to obyčejný soubor."));
  Show();
  QTest::mouseClick(Dialog->BitBtnOK, Qt::LeftButton);
  EXPECT_EQ(Reported.value(1), "Unable to write to " + FIni + "\nDůvod: není to obyčejný soubor");
  EXPECT_FALSE(QFileInfo(FIni).isFile());
}

TEST_F(CfgDialog, PortListPutsStableNamesFirstAndShowsLongNamesWhole) {
  const QString byId = FDir.filePath("by-id"), device = FDir.filePath("ttyUSB0");
  const QString link = byId + "/usb-Maker_Serial_Adapter_A1B2C3D4E5-if00-port0";
  ASSERT_TRUE(QDir().mkpath(byId) && QFile(device).open(QIODevice::WriteOnly));
  ASSERT_TRUE(QFile::link(device, link));
  Create();
  Dialog->SetSysfsRoot(FDir.filePath("no-sysfs").toStdString());
  Dialog->SetByIdFolder(byId.toStdString());
  Show();
  Dialog->ComboBoxPortA->showPopup();
  ASSERT_EQ(Dialog->ComboBoxPortA->count(), 1);
  EXPECT_EQ(Dialog->ComboBoxPortA->itemData(0, Qt::UserRole).toString(), "ttyUSB0");
  QAbstractItemView* list = Dialog->ComboBoxPortA->view();
  EXPECT_GE(list->width(), list->fontMetrics().horizontalAdvance(link + "  → ttyUSB0"));
  EXPECT_EQ(Dialog->ComboBoxPortA->width(), 89) << "the box keeps its size";
  QTest::keyClick(list, Qt::Key_Return);
  EXPECT_EQ(Dialog->ComboBoxPortA->currentText(), link) << "the path alone, no target";
  EXPECT_EQ(Dialog->ComboBoxPortA->toolTip(), link);
}
#endif
