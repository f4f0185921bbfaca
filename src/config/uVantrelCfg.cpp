// uVantrelCfg: the configuration dialog and its About page.
#include "config/uVantrelCfg.h"

#include <QAbstractItemView>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDesktopServices>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QSpinBox>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <tuple>

#include "config/IniFile.h"
#include "config/JpegPicture.h"
#include "config/Settings.h"
#include "controls/Convert.h"
#include "controls/MsgBox.h"
#include "controls/UiFont.h"
#include "serial/SerialPorts.h"

TFormVantrelCfg* FormVantrelCfg = nullptr;

namespace {

// Starting sizes of the layout, in pixels.
constexpr int kClientWidth = 351;
constexpr int kClientHeight = 318;
constexpr int kPanelHeight = 49;
// OK and Storno: left edges at 72 and 184 of the 351 pixels, 89 x 33 each.
constexpr int kOkLeft = 72;
constexpr int kCancelLeft = 184;
constexpr int kButtonWidth = 89;
constexpr int kButtonHeight = 33;

// In the port list a stable link (/dev/serial/by-id/...) also shows the
// device it points to now; the item's text stays the path that is stored.
constexpr int kPortTargetRole = Qt::UserRole;

class TPortItemDelegate : public QStyledItemDelegate {
public:
  using QStyledItemDelegate::QStyledItemDelegate;

protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    const QString target = index.data(kPortTargetRole).toString();
    if (!target.isEmpty()) option->text += QStringLiteral("  → ") + target;
  }
};

QString LoadFailureText(int error) {
  return QStringLiteral(
             "Soubor nastavení %1 nelze použít: %2.\n"
             "Program poběží s výchozím nastavením a tento soubor nepřepíše.")
      .arg(FromStd(SettingsFileName()), FromStd(IniErrorTextCzech(error)));
}

// The failed save's own text, then the reason in Czech.
QString SaveFailureText(const EIniWriteError& e) {
  return FromStd(e.what()) + QStringLiteral("\nDůvod: ") +
         FromStd(IniErrorTextCzech(e.ErrorNumber()));
}

// The port list comes as comma text: names joined by commas, a name with a
// blank, control character, comma or quote enclosed in quotes with inner
// quotes doubled.  An empty text is no names at all.
QStringList SplitCommaText(const std::string& text) {
  QStringList names;
  if (text.empty()) return names;
  std::size_t i = 0;
  for (;;) {
    std::string name;
    if (i < text.size() && text[i] == '"') {
      ++i;
      while (i < text.size()) {
        if (text[i] == '"') {
          if (i + 1 < text.size() && text[i + 1] == '"') {
            name += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        name += text[i++];
      }
      while (i < text.size() && text[i] != ',')  // stray text after the quote
        ++i;
    } else {
      while (i < text.size() && text[i] != ',') name += text[i++];
    }
    names << QString::fromStdString(name);
    if (i >= text.size()) break;
    ++i;  // the comma; a trailing one gives a last empty name
  }
  return names;
}

// Radio buttons and check boxes as high as their text or mark needs, not
// more: three of them fit the 73-pixel groups of the layout.
void Compact(QAbstractButton* button) {
  const QStyle::PixelMetric mark = qobject_cast<QRadioButton*>(button)
                                       ? QStyle::PM_ExclusiveIndicatorHeight
                                       : QStyle::PM_IndicatorHeight;
  button->setMaximumHeight(std::max(button->fontMetrics().height(),
                                    button->style()->pixelMetric(mark, nullptr, button)) +
                           2);
}

QGroupBox* NewGroup(const QString& caption, int width, int height, QWidget* parent) {
  auto* box = new QGroupBox(caption, parent);
  box->setMinimumSize(width, height);
  return box;
}

QLabel* NewBoldLabel(const QString& text, QWidget* parent, int pointSize = 0) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);  // keeps the run of blanks in the version line
  QFont font = label->font();
  font.setBold(true);
  if (pointSize > 0) font.setPointSize(pointSize);
  label->setFont(font);
  return label;
}

// Spin boxes take the stored value clamped to their range, whatever its size.
void SetClamped(QSpinBox* spin, int value) {
  spin->setValue(std::clamp(value, spin->minimum(), spin->maximum()));
}

}  // namespace

// ---------------------------------------------------------------- TRadioGroup

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent)
    : QGroupBox(caption, parent), FGroup(new QButtonGroup(this)), FCount(int(items.size())) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(5, 0, 2, 2);
  layout->setSpacing(0);
  for (int i = 0; i < FCount; ++i) {
    auto* button = new QRadioButton(items[i], this);
    Compact(button);
    FGroup->addButton(button, i);
    layout->addWidget(button);
  }
  layout->addStretch();
}

int TRadioGroup::ItemIndex() const { return FGroup->checkedId(); }

void TRadioGroup::SetItemIndex(int index) {
  if (index >= FCount) index = FCount - 1;
  if (index < 0) {
    // An exclusive group refuses to clear its last checked button.
    FGroup->setExclusive(false);
    for (QAbstractButton* button : FGroup->buttons()) button->setChecked(false);
    FGroup->setExclusive(true);
    return;
  }
  FGroup->button(index)->setChecked(true);
}

QRadioButton* TRadioGroup::Button(int index) const {
  return static_cast<QRadioButton*>(FGroup->button(index));
}

// ---------------------------------------------------------------- small controls

void TClickLabel::mousePressEvent(QMouseEvent* event) {
  // A plain label ignores presses, and then never sees the release.
  event->accept();
}

void TClickLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && OnClick)
    OnClick();
}

void TPortComboBox::showPopup() {
  if (OnDropDown) OnDropDown();
  TComboBoxPemra::showPopup();
}

// ---------------------------------------------------------------- TFormVantrelCfg

TFormVantrelCfg::TFormVantrelCfg(QWidget* parent)
    : QDialog(parent), FUrlOpener([](const QUrl& url) { QDesktopServices::openUrl(url); }) {
  setObjectName("FormVantrelCfg");
  setWindowTitle(QStringLiteral("vVantrel vodivátor - konfigurace"));
  setFont(VantrelFont(false));
  BuildLayout();
  FormCreate();
}

TFormVantrelCfg::~TFormVantrelCfg() {
  if (FormVantrelCfg == this) FormVantrelCfg = nullptr;
}

QString TFormVantrelCfg::WebAddress() { return QStringLiteral("https://vvantrelbus.example.org/"); }

void TFormVantrelCfg::BuildLayout() {
  PageControlCfg = new QTabWidget(this);
  PageControlCfg->setObjectName("PageControlCfg");

  TabSheet1 = BuildPortPage();
  PageControlCfg->addTab(TabSheet1, QStringLiteral("Komunikace"));
  TabSheet2 = BuildCentralPage();
  PageControlCfg->addTab(TabSheet2, QStringLiteral("Centrála"));

  // The sibling program shares this dialog's source; its page stays hidden.
  TAboutPage sibling = BuildAboutPage(QStringLiteral("vVantrel Vodivátor"),
                                      QStringLiteral("Řízení provozu kolejiště"),
                                      QStringLiteral("přes sériové rozhraní Vantrel"));
  TabSheet3 = sibling.Page;
  ImageVodiv = sibling.Image;
  PageControlCfg->addTab(TabSheet3, QStringLiteral("O aplikaci"));

  TAboutPage about =
      BuildAboutPage(QStringLiteral("vVantrel BUS"), QStringLiteral("Sledování komunikace"),
                     QStringLiteral("na sběrnici Vantrel BUS"));
  TabSheet4 = about.Page;
  Image1 = about.Image;
  Label1 = about.Title;
  Label2 = about.Line1;
  Label3 = about.Line2;
  Label4 = about.Version;
  Label5 = about.Author;
  Label6 = about.Address;
  PageControlCfg->addTab(TabSheet4, QStringLiteral("O aplikaci"));

  // The buttons keep their places relative to the dialog's width: the
  // stretches around them share out the width as 72 : 23 : 78 pixels do.
  Panel1 = new QWidget(this);
  Panel1->setObjectName("Panel1");
  Panel1->setFixedHeight(kPanelHeight);
  auto* buttons = new QHBoxLayout(Panel1);
  buttons->setContentsMargins(0, 8, 0, kPanelHeight - 8 - kButtonHeight);
  buttons->setSpacing(0);
  BitBtnOK = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"),
                             Panel1);
  BitBtnOK->setObjectName("BitBtnOK");
  BitBtnCancel = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton),
                                 QStringLiteral("Storno"), Panel1);
  BitBtnCancel->setObjectName("BitBtnCancel");
  buttons->addStretch(kOkLeft);
  buttons->addWidget(BitBtnOK);
  buttons->addStretch(kCancelLeft - kOkLeft - kButtonWidth);
  buttons->addWidget(BitBtnCancel);
  buttons->addStretch(kClientWidth - kCancelLeft - kButtonWidth);
  for (QPushButton* button : {BitBtnOK, BitBtnCancel})
    button->setFixedSize(kButtonWidth, kButtonHeight);
  BitBtnOK->setDefault(true);

  // A failed save is reported by the application's error handling; the
  // exception must not travel through Qt's signal dispatch.
  connect(BitBtnOK, &QPushButton::clicked, this, [this] {
    try {
      BitBtnOKClick();
    } catch (const EIniWriteError& e) {
      ReportApplicationError(SaveFailureText(e));
    } catch (const std::exception& e) {
      ReportApplicationError(QString::fromStdString(e.what()));
    }
  });
  connect(BitBtnCancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* pages = new QVBoxLayout;
  pages->setContentsMargins(4, 4, 4, 0);
  pages->addWidget(PageControlCfg);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addLayout(pages, 1);
  layout->addWidget(Panel1);

  // Starting size as designed, larger only where the font needs it; then
  // fixed: the dialog is not resizable.
  const QSize hint = sizeHint().expandedTo(QSize(kClientWidth, kClientHeight));
  setFixedSize(hint);
  setSizeGripEnabled(false);
}

QWidget* TFormVantrelCfg::BuildPortPage() {
  auto* page = new QWidget;
  page->setObjectName("TabSheet1");

  GroupBoxPortA = NewGroup(QStringLiteral("Port A:"), 105, 57, page);
  GroupBoxPortA->setObjectName("GroupBoxPortA");
  ComboBoxPortA = new TPortComboBox(GroupBoxPortA);
  ComboBoxPortA->setObjectName("ComboBoxPortA");
  ComboBoxPortA->setEditable(true);
  ComboBoxPortA->setInsertPolicy(QComboBox::NoInsert);  // a typed name is not added to the list
  ComboBoxPortA->setMaxVisibleItems(16);
  ComboBoxPortA->setFixedWidth(89);
  ComboBoxPortA->setItemDelegate(new TPortItemDelegate(ComboBoxPortA));
  for (int n = 1; n <= 12; ++n) ComboBoxPortA->addItem(QStringLiteral("COM%1").arg(n));
  ComboBoxPortA->OnDropDown = [this] { ComboBoxPortADropDown(); };
  // A path longer than the box is shown whole on hover.
  connect(ComboBoxPortA, &QComboBox::editTextChanged, ComboBoxPortA,
          [this](const QString& text) { ComboBoxPortA->setToolTip(text); });
  auto* portLayout = new QVBoxLayout(GroupBoxPortA);
  portLayout->setContentsMargins(5, 0, 5, 2);
  portLayout->addWidget(ComboBoxPortA);
  // Beside the port group, level with its box; the groups below keep their places.
  CheckBoxReconnect = new QCheckBox(QStringLiteral("Automaticky znovu připojit"), page);
  CheckBoxReconnect->setObjectName("CheckBoxReconnect");
  CheckBoxReconnect->setToolTip(
      QStringLiteral("Když port zmizí (vytažený kabel), počkat na jeho návrat a číst dál"));
  auto* top = new QHBoxLayout;
  top->setSpacing(7);
  top->addWidget(GroupBoxPortA);
  top->addWidget(CheckBoxReconnect, 0, Qt::AlignVCenter);
  top->addStretch();

  RadioGroupParityA =
      new TRadioGroup(QStringLiteral("Parity:"),
                      {QStringLiteral("None"), QStringLiteral("Odd"), QStringLiteral("Even"),
                       QStringLiteral("Mark"), QStringLiteral("Space")},
                      page);
  RadioGroupParityA->setObjectName("RadioGroupParityA");
  RadioGroupParityA->setMinimumSize(89, 145);
  RadioGroupBitsA =
      new TRadioGroup(QStringLiteral("Bits:"),
                      {QStringLiteral("6"), QStringLiteral("7"), QStringLiteral("8")}, page);
  RadioGroupBitsA->setObjectName("RadioGroupBitsA");
  RadioGroupBitsA->setMinimumSize(89, 73);
  RadioGroupStopBitA =
      new TRadioGroup(QStringLiteral("Stop Bit:"),
                      {QStringLiteral("1"), QStringLiteral("1,5"), QStringLiteral("2")}, page);
  RadioGroupStopBitA->setObjectName("RadioGroupStopBitA");
  RadioGroupStopBitA->setMinimumSize(89, 71);

  GroupBoxControlA = NewGroup(QStringLiteral("Flow Control"), 89, 73, page);
  GroupBoxControlA->setObjectName("GroupBoxControlA");
  CheckBoxSoftFlowA = new QCheckBox(QStringLiteral("Soft Flow"), GroupBoxControlA);
  CheckBoxSoftFlowA->setObjectName("CheckBoxSoftFlowA");
  CheckBoxHardFlowA = new QCheckBox(QStringLiteral("Hard Flow"), GroupBoxControlA);
  CheckBoxHardFlowA->setObjectName("CheckBoxHardFlowA");
  auto* flowLayout = new QVBoxLayout(GroupBoxControlA);
  flowLayout->setContentsMargins(5, 2, 2, 2);
  flowLayout->setSpacing(6);
  Compact(CheckBoxSoftFlowA);
  Compact(CheckBoxHardFlowA);
  flowLayout->setSpacing(0);
  flowLayout->addWidget(CheckBoxSoftFlowA);
  flowLayout->addWidget(CheckBoxHardFlowA);
  flowLayout->addStretch();

  GroupBox1 = NewGroup(QStringLiteral("Baud Rate:"), 89, 71, page);
  GroupBox1->setObjectName("GroupBox1");
  EditBaudRate = new TEditPemra(GroupBox1);
  EditBaudRate->setObjectName("EditBaudRate");
  EditBaudRate->SetButtonVisible(false);
  EditBaudRate->setFixedWidth(73);
  auto* baudLayout = new QVBoxLayout(GroupBox1);
  baudLayout->setContentsMargins(5, 6, 5, 2);
  baudLayout->addWidget(EditBaudRate);
  baudLayout->addStretch();

  auto* middle = new QVBoxLayout;
  middle->setSpacing(1);
  middle->addWidget(RadioGroupBitsA);
  middle->addWidget(RadioGroupStopBitA);
  auto* right = new QVBoxLayout;
  right->setSpacing(1);
  right->addWidget(GroupBoxControlA);
  right->addWidget(GroupBox1);
  auto* row = new QHBoxLayout;
  row->setSpacing(7);
  row->addWidget(RadioGroupParityA);
  row->addLayout(middle);
  row->addLayout(right);
  row->addStretch();

  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(16, 16, 8, 8);
  layout->setSpacing(7);
  layout->addLayout(top);
  layout->addLayout(row);
  layout->addStretch();
  return page;
}

QWidget* TFormVantrelCfg::BuildCentralPage() {
  auto* page = new QWidget;
  page->setObjectName("TabSheet2");

  auto spinGroup = [page](const QString& caption, int minimum, int maximum, int start) {
    QGroupBox* group = NewGroup(caption, 89, 57, page);
    auto* spin = new QSpinBox(group);
    spin->setRange(minimum, maximum);
    spin->setValue(start);
    spin->setMinimumWidth(57 + 16);
    auto* inner = new QVBoxLayout(group);
    inner->setContentsMargins(5, 2, 5, 2);
    inner->addWidget(spin, 0, Qt::AlignLeft);
    return std::pair{group, spin};
  };
  std::tie(GroupBoxMaxLoko, UpDownMaxLoko) = spinGroup(QStringLiteral("Max loko:"), 8, 32, 16);
  GroupBoxMaxLoko->setObjectName("GroupBoxMaxLoko");
  GroupBoxMaxLoko->setToolTip(QStringLiteral("Maximální počet aktivních lokomotiv"));
  UpDownMaxLoko->setObjectName("UpDownMaxLoko");
  std::tie(GroupBox2, UpDownAppID) = spinGroup(QStringLiteral("ID aplikace:"), 0, 255, 1);
  GroupBox2->setObjectName("GroupBox2");
  UpDownAppID->setObjectName("UpDownAppID");

  auto* row = new QHBoxLayout;
  row->setSpacing(128 - 16 - 89);
  row->addWidget(GroupBoxMaxLoko);
  row->addWidget(GroupBox2);
  row->addStretch();
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(16, 24, 8, 8);
  layout->addLayout(row);
  layout->addStretch();
  return page;
}

TFormVantrelCfg::TAboutPage TFormVantrelCfg::BuildAboutPage(const QString& title,
                                                            const QString& line1,
                                                            const QString& line2) {
  TAboutPage p{};
  p.Page = new QWidget;

  p.Image = new QLabel(p.Page);
  p.Image->setFixedSize(73, 57);  // keeps its place when the picture is missing
  const QImage picture = AboutPicture();
  if (!picture.isNull()) p.Image->setPixmap(QPixmap::fromImage(picture));

  p.Title = NewBoldLabel(title, p.Page, 12);
  p.Line1 = NewBoldLabel(line1, p.Page);
  p.Line2 = NewBoldLabel(line2, p.Page);
  p.Version = NewBoldLabel(QStringLiteral("verze 1.0   červen 2010"), p.Page);
  p.Author = NewBoldLabel(QStringLiteral("Autor: vývojáři vVantrelBus"), p.Page);
  p.Address = new TClickLabel(WebAddress(), p.Page);
  p.Address->setTextFormat(Qt::PlainText);
  QFont font = p.Address->font();
  font.setBold(true);
  p.Address->setFont(font);
  QPalette palette = p.Address->palette();
  palette.setColor(QPalette::WindowText, QColor(0, 0, 128));  // navy
  p.Address->setPalette(palette);
  p.Address->setCursor(Qt::PointingHandCursor);
  p.Address->OnClick = [this] { Label6Click(); };

  auto* imageColumn = new QVBoxLayout;
  imageColumn->addSpacing(48 - 40);
  imageColumn->addWidget(p.Image);
  imageColumn->addStretch();
  auto* textColumn = new QVBoxLayout;
  textColumn->setSpacing(0);
  textColumn->addWidget(p.Title);
  textColumn->addSpacing(16);
  textColumn->addWidget(p.Line1);
  textColumn->addWidget(p.Line2);
  textColumn->addSpacing(16);
  textColumn->addWidget(p.Version);
  auto* top = new QHBoxLayout;
  top->setSpacing(152 - 32 - 73);
  top->addSpacing(32 - 24);
  top->addLayout(imageColumn);
  top->addLayout(textColumn);
  top->addStretch();

  auto* layout = new QVBoxLayout(p.Page);
  layout->setContentsMargins(24, 40, 8, 8);
  layout->setSpacing(0);
  layout->addLayout(top);
  layout->addSpacing(24);
  layout->addWidget(p.Author);
  layout->addWidget(p.Address, 0, Qt::AlignLeft);  // clickable only over its text
  layout->addStretch();
  return p;
}

void TFormVantrelCfg::FormCreate() {
  PageControlCfg->setTabVisible(PageControlCfg->indexOf(TabSheet3), false);
  if (const int error = LoadSettings()) ReportApplicationError(LoadFailureText(error));
  PageControlCfg->setCurrentIndex(0);
}

void TFormVantrelCfg::FormShow() {
  // Another window or an editor may have saved since: show and save what the
  // file holds now instead of undoing that.
  if (SettingsFileChanged()) {
    const TSettings kept = Settings;
    if (const int error = LoadSettings()) {
      Settings = kept;
      ReportApplicationError(LoadFailureText(error));
    }
  }
  SettingsToControls();
}

void TFormVantrelCfg::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    // Centred on the screen the first time (Qt would centre it over the main
    // window); later showings keep where the user moved it.
    if (!FPlaced) {
      if (QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
      FPlaced = true;
    }
    FormShow();
  }
  QDialog::showEvent(event);
}

void TFormVantrelCfg::BitBtnOKClick() {
  // A baud rate the line cannot take is not saved: the dialog stays open on it.
  int32_t baud = 0;
  if (!TryStrToInt(EditBaudRate->text(), baud) || baud <= 0) {
    ShowMessageBox(this, ErrorBoxTitle(), DataFormatErrorText(), TMsgIcon::Error);
    PageControlCfg->setCurrentWidget(TabSheet1);
    EditBaudRate->setFocus(Qt::OtherFocusReason);
    EditBaudRate->selectAll();
    return;
  }
  // The dialog closes with OK also when saving fails: the values are already
  // in Settings and stay in effect for this run.
  struct TCloseWithOk {
    QDialog* Dialog;
    ~TCloseWithOk() { Dialog->accept(); }
  } closeWithOk{this};
  ControlsToSettings();
  SaveSettings();
}

void TFormVantrelCfg::ComboBoxPortADropDown() {
  // Read first: a failure leaves the previous items in place.
  const QStringList names = SplitCommaText(ListSerialPorts(FSysfsRoot, FByIdFolder));
  const QString typed = ComboBoxPortA->currentText();
  ComboBoxPortA->clear();
  int widest = ComboBoxPortA->width();
  const QFontMetrics metrics(ComboBoxPortA->view()->font());
  for (const QString& name : names) {
    // A link shows the device it leads to (ttyUSB0), which changes on re-plugging.
    QString target;
    std::error_code error;
    const std::filesystem::path path = name.toStdString();
    if (std::filesystem::is_symlink(path, error))
      target = FromStd(std::filesystem::canonical(path, error).filename().string());
    ComboBoxPortA->addItem(name);
    const int index = ComboBoxPortA->count() - 1;
    ComboBoxPortA->setItemData(index, target, kPortTargetRole);
    ComboBoxPortA->setItemData(
        index, target.isEmpty() ? name : name + QStringLiteral(" → ") + target, Qt::ToolTipRole);
    widest = std::max(widest, metrics.horizontalAdvance(name + QStringLiteral("  → ") + target));
  }
  // The list opens as wide as its longest entry; the box keeps its size.
  const int frame = 2 * ComboBoxPortA->view()->frameWidth() + 16 +
                    ComboBoxPortA->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  ComboBoxPortA->view()->setMinimumWidth(widest + frame);
  ComboBoxPortA->setCurrentIndex(ComboBoxPortA->findText(typed, Qt::MatchExactly));
  ComboBoxPortA->setEditText(typed);
}

void TFormVantrelCfg::Label6Click() {
  // A failure to open the address is not reported; the dialog closes anyway.
  if (FUrlOpener) FUrlOpener(QUrl(WebAddress()));
  reject();
}

void TFormVantrelCfg::SettingsToControls() {
  ComboBoxPortA->setEditText(QString::fromStdString(Settings.Port));
  EditBaudRate->SetAsInteger(Settings.Baud);
  RadioGroupParityA->SetItemIndex(Settings.Parity);
  // Widened so that an absurd stored value cannot overflow.
  RadioGroupBitsA->SetItemIndex(
      int(std::clamp<std::int64_t>(std::int64_t(Settings.Bits) - 6, -2, 3)));
  RadioGroupStopBitA->SetItemIndex(Settings.StopBit);
  CheckBoxSoftFlowA->setChecked(Settings.SoftFlow);
  CheckBoxHardFlowA->setChecked(Settings.HardFlow);
  CheckBoxReconnect->setChecked(Settings.Reconnect);
  SetClamped(UpDownAppID, Settings.AppID);
  SetClamped(UpDownMaxLoko, Settings.MaxLoko);
}

void TFormVantrelCfg::ControlsToSettings() {
  Settings.Port = ComboBoxPortA->currentText().toStdString();
  Settings.Baud = EditBaudRate->AsInteger();
  Settings.Parity = RadioGroupParityA->ItemIndex();
  Settings.Bits = RadioGroupBitsA->ItemIndex() + 6;
  Settings.StopBit = RadioGroupStopBitA->ItemIndex();
  Settings.SoftFlow = CheckBoxSoftFlowA->isChecked();
  Settings.HardFlow = CheckBoxHardFlowA->isChecked();
  Settings.Reconnect = CheckBoxReconnect->isChecked();
  Settings.AppID = UpDownAppID->value();
  Settings.MaxLoko = UpDownMaxLoko->value();
}
