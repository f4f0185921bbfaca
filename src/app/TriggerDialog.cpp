// The trigger's dialog; see the header.
#include "app/TriggerDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "analysis/Trigger.h"

namespace {
// In the order of the action bits.
constexpr const char* kActionCaptions[] = {"Pozastavit provoz", "Začít záznam", "Ukončit záznam",
                                           "Označit řádek"};
}  // namespace

TTriggerDialog::TTriggerDialog(const TAnalysisSettings& settings, QWidget* parent)
    : QDialog(parent), FSettings(settings) {
  setObjectName("DialogTrigger");
  setWindowTitle(QString::fromUtf8("Spouštěč"));
  auto* layout = new QVBoxLayout(this);

  auto* when = new QGroupBox(QString::fromUtf8("Spustit, když nastane událost"), this);
  auto* kinds = new QGridLayout(when);
  const uint32_t events = EventKindsFromNames(settings.TriggerEvents);
  for (int k = 0; k < kEventKinds; ++k) {
    const auto kind = static_cast<TEventKind>(k);
    CheckKinds[k] = new QCheckBox(QString::fromUtf8(EventKindCaption(kind)), when);
    CheckKinds[k]->setObjectName(QString("CheckTrigger_%1").arg(EventKindName(kind)));
    CheckKinds[k]->setChecked(events & EventBit(kind));
    kinds->addWidget(CheckKinds[k], k / 3, k % 3);
  }
  auto* patternLabel =
      new QLabel(QString::fromUtf8("nebo když položka obsahuje (hex nebo text):"), when);
  EditPattern = new QLineEdit(QString::fromStdString(settings.TriggerPattern), when);
  EditPattern->setObjectName("EditTriggerPattern");
  EditPattern->setPlaceholderText(QString::fromUtf8("např. 00 81 nebo Vyhybka 12"));
  EditPattern->setMaxLength(200);
  patternLabel->setBuddy(EditPattern);
  kinds->addWidget(patternLabel, 2, 0, 1, 3);
  kinds->addWidget(EditPattern, 3, 0, 1, 3);
  layout->addWidget(when);

  auto* then = new QGroupBox(QString::fromUtf8("Pak"), this);
  auto* actions = new QGridLayout(then);
  const uint32_t chosen = TriggerActionsFromNames(settings.TriggerActions);
  for (int i = 0; i < 4; ++i) {
    CheckActions[i] = new QCheckBox(QString::fromUtf8(kActionCaptions[i]), then);
    CheckActions[i]->setObjectName(QString("CheckTriggerAction%1").arg(i));
    CheckActions[i]->setChecked(chosen & (1u << i));
    actions->addWidget(CheckActions[i], i / 2, i % 2);
  }
  CheckBeep = new QCheckBox(QString::fromUtf8("Pípnout"), then);
  CheckBeep->setObjectName("CheckTriggerBeep");
  CheckBeep->setChecked(settings.TriggerBeep);
  CheckNotify = new QCheckBox(QString::fromUtf8("Oznámení na ploše"), then);
  CheckNotify->setObjectName("CheckTriggerNotify");
  CheckNotify->setChecked(settings.TriggerNotify);
  actions->addWidget(CheckBeep, 2, 0);
  actions->addWidget(CheckNotify, 2, 1);
  layout->addWidget(then);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

TAnalysisSettings TTriggerDialog::Result() const {
  TAnalysisSettings s = FSettings;
  uint32_t events = 0, actions = 0;
  for (int k = 0; k < kEventKinds; ++k)
    if (CheckKinds[k]->isChecked()) events |= EventBit(static_cast<TEventKind>(k));
  for (int i = 0; i < 4; ++i)
    if (CheckActions[i]->isChecked()) actions |= 1u << i;
  // Names the dialog does not offer stay as they were written.
  std::string unknownEvents, unknownActions;
  EventKindsFromNames(FSettings.TriggerEvents, &unknownEvents);
  TriggerActionsFromNames(FSettings.TriggerActions, &unknownActions);
  auto join = [](std::string known, const std::string& unknown) {
    if (!unknown.empty()) known += (known.empty() ? "" : ",") + unknown;
    return known;
  };
  s.TriggerEvents = join(EventKindNames(events), unknownEvents);
  s.TriggerActions = join(TriggerActionNames(actions), unknownActions);
  s.TriggerPattern = EditPattern->text().trimmed().toStdString();
  s.TriggerBeep = CheckBeep->isChecked();
  s.TriggerNotify = CheckNotify->isChecked();
  return s;
}
