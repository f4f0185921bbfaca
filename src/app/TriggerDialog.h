// "Spouštěč": the trigger of the [Monitor] settings edited in the window
// rather than in the file: which event kinds or which pattern fire it, and
// what it then does.
#pragma once

#include <QDialog>

#include <array>

#include "analysis/BusEvents.h"
#include "config/Settings.h"

class QCheckBox;
class QLineEdit;

class TTriggerDialog : public QDialog {
  Q_OBJECT
public:
  explicit TTriggerDialog(const TAnalysisSettings& settings, QWidget* parent = nullptr);
  // settings with the trigger's keys as the dialog shows them.
  TAnalysisSettings Result() const;

  std::array<QCheckBox*, kEventKinds> CheckKinds{};
  QLineEdit* EditPattern = nullptr;
  std::array<QCheckBox*, 4> CheckActions{};  // pause, record-start, record-stop, mark
  QCheckBox* CheckBeep = nullptr;
  QCheckBox* CheckNotify = nullptr;

private:
  TAnalysisSettings FSettings;
};
