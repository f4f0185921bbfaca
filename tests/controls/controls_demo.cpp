// A small form with the grid, typed edits and a combo box, for looking at
// the controls by eye (not a test, not installed).  Quits after the number
// of milliseconds given as the first argument, if any.
#include "controls/SortGrPm.h"
#include "controls/VCtrlPm.h"

#include <QApplication>
#include <QFormLayout>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget form;
  form.setWindowTitle("Ovládací prvky");
  auto* layout = new QVBoxLayout(&form);

  auto* grid = new TSortGridPemra(&form);
  grid->SetRowCount(8);
  const char* titles[] = {"Nr", "Adr", "Akt", "Zpráva", "Komentář"};
  const int widths[] = {36, 42, 40, 143, 214};
  for (int c = 0; c < 5; ++c) {
    grid->SetCells(c, 0, QString::fromUtf8(titles[c]));
    grid->SetColWidths(c, widths[c]);
  }
  for (int r = 1; r < 8; ++r) {
    grid->SetCells(0, r, QString::number(r));
    grid->SetCells(1, r, QString("%1").arg(r, 2, 16, QChar('0')).toUpper());
    grid->SetCells(2, r, r % 3 ? "" : "*");
    grid->SetCells(3, r, QString("%1 0A FF ").arg(r * 17, 2, 16, QChar('0')).toUpper());
    grid->SetCells(4, r, QString::fromUtf8("výhybka %1 rovně").arg(r * 4));
  }
  grid->OnGetAlignment = [](TSortGridPemra*, int ACol) {
    return ACol == 0 ? taRightJustify : taLeftJustify;
  };
  grid->SetRow(3);
  grid->setMinimumHeight(8 * 19 + 4);
  layout->addWidget(grid);

  auto* fields = new QFormLayout;
  auto* baud = new TEditPemra(&form);
  baud->SetAsInteger(19200);
  fields->addRow("Rychlost:", baud);
  auto* date = new TEditPemra(&form);
  date->SetEditType(ttDate);
  date->SetText("5/3");
  date->SetButtonVisible(true);
  fields->addRow("Datum:", date);
  auto* amount = new TEditPemra(&form);
  amount->SetEditType(ttFloat);
  amount->SetFloatPrecision(15);
  amount->SetFloatDigits(2);
  amount->SetAlignment(taRightJustify);
  amount->SetText(QString("3") + FormatSettings().DecimalSeparator + "14159");
  fields->addRow("Proud:", amount);
  auto* port = new TComboBoxPemra(&form);
  port->setEditable(true);
  port->addItems({"COM1", "COM2", "/dev/ttyUSB0"});
  fields->addRow("Port:", port);
  layout->addLayout(fields);

  form.resize(560, 330);
  form.show();
  grid->setFocus();
  if (argc > 1) QTimer::singleShot(QString(argv[1]).toInt(), &app, &QApplication::quit);
  return app.exec();
}
