// Marks on traffic rows, and moving between them and to a moment; see the header.
#include "app/MarkControl.h"

#include <QAction>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QInputDialog>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <utility>

#include "app/AnalysisWindow.h"
#include "app/CaptureLoad.h"
#include "app/PlaybackControl.h"
#include "capture/CaptureLog.h"
#include "controls/Convert.h"

namespace {

QString MomentText(int64_t us) {
  return QDateTime::fromMSecsSinceEpoch(us / 1000).toString(
      QStringLiteral("d. M. yyyy HH:mm:ss.zzz"));
}

}  // namespace

TMarkControl::TMarkControl(TAnalysisWindow& window, const TTrafficSource& live,
                           const TPlaybackControl& playback)
    : FWindow(window), FLive(live), FPlayback(playback) {
  QWidget* host = FWindow.Host();
  auto action = [host](const char* name, const char* caption, QKeySequence key) {
    auto* a = new QAction(QString::fromUtf8(caption), host);
    a->setObjectName(name);
    a->setShortcut(key);
    return a;
  };
  ActionMark = action("ActionMark", "Označit řádek…", QKeySequence(Qt::Key_M));
  ActionMarkList = action("ActionMarkList", "Značky…", QKeySequence());
  ActionNextMark = action("ActionNextMark", "Další značka", QKeySequence(Qt::Key_F2));
  ActionPrevMark =
      action("ActionPrevMark", "Předchozí značka", QKeySequence(Qt::SHIFT | Qt::Key_F2));
  ActionGoToTime = action("ActionGoToTime", "Přejít na čas…", QKeySequence(Qt::CTRL | Qt::Key_G));
  connect(ActionMark, &QAction::triggered, this, &TMarkControl::MarkCurrent);
  connect(ActionMarkList, &QAction::triggered, this, &TMarkControl::ShowMarkList);
  connect(ActionNextMark, &QAction::triggered, this, [this] { GoToMark(true); });
  connect(ActionPrevMark, &QAction::triggered, this, [this] { GoToMark(false); });
  connect(ActionGoToTime, &QAction::triggered, this, [this] {
    const QString text = AskMoment ? AskMoment() : QString();
    if (!text.isEmpty()) GoToTime(text);
  });
  connect(this, &TMarkControl::MarksChanged, this, &TMarkControl::FillList);

  AskMarkText = [this](const QString& suggested) {
    bool ok = false;
    const QString text = QInputDialog::getText(FWindow.Host(), QString::fromUtf8("Označit řádek"),
                                               QString::fromUtf8("Poznámka ke značce:"),
                                               QLineEdit::Normal, suggested, &ok);
    return ok ? (text.isNull() ? QString("") : text) : QString();
  };
  AskMoment = [this] {
    return QInputDialog::getText(
        FWindow.Host(), QString::fromUtf8("Přejít na čas"),
        QString::fromUtf8("Čas (14:03:05) nebo datum a čas (8. 12. 2026 14:03:05):"));
  };
}

TMarkControl::~TMarkControl() { delete DialogMarks; }

void TMarkControl::Install(QWidget* table, QWidget* panelLeft, const QRect& geometry) {
  // M only where the rows are, so that it types into the filter fields.
  ActionMark->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  table->addAction(ActionMark);
  for (QAction* a : {ActionNextMark, ActionPrevMark, ActionGoToTime}) {
    a->setShortcutContext(Qt::WindowShortcut);
    FWindow.Host()->addAction(a);
  }
  table->setContextMenuPolicy(Qt::ActionsContextMenu);
  auto* separator = new QAction(table);
  separator->setSeparator(true);
  table->addActions({separator, ActionMarkList, ActionNextMark, ActionPrevMark, ActionGoToTime});

  ButtonMarks = new QToolButton(panelLeft);
  ButtonMarks->setObjectName("SpeedButtonMarks");
  ButtonMarks->setText(QString::fromUtf8("Značky"));
  ButtonMarks->setToolTip(QString::fromUtf8("Značky řádků provozu a přechod na čas"));
  ButtonMarks->setToolButtonStyle(Qt::ToolButtonTextOnly);
  ButtonMarks->setPopupMode(QToolButton::InstantPopup);
  ButtonMarks->setGeometry(geometry);
  auto* menu = new QMenu(ButtonMarks);
  menu->addActions({ActionMark, ActionMarkList});
  menu->addSeparator();
  menu->addActions({ActionNextMark, ActionPrevMark, ActionGoToTime});
  ButtonMarks->setMenu(menu);
}

void TMarkControl::CaptureChanged(const TCaptureContents* capture) {
  FCapture = capture;
  FCaptureMarks = capture ? capture->Marks : TTrafficMarks();
  emit MarksChanged();
}

TTrafficMarks& TMarkControl::Scope(const TTrafficSource*& marked, uint64_t& base) {
  base = 0;
  if (FCapture && FCapture->Session) {
    marked = &FCapture->Session->History();
    if (FPlayback.Active()) base = FPlayback.Base();
    return FCaptureMarks;
  }
  marked = &FLive;
  return FLiveMarks;
}

const TTrafficMarks& TMarkControl::Marks() const {
  return FCapture && FCapture->Session ? FCaptureMarks : FLiveMarks;
}

bool TMarkControl::AddMark(uint64_t seq, const QString& text) {
  if (!FLive.Holds(seq)) return false;
  const std::string clean = CaptureMarkText(text.toStdString());
  const int64_t timeUs = FLive.TimeUs(seq);
  FLiveMarks.Add(seq, timeUs, clean);
  FWindow.RecordMark(timeUs, clean);
  if (!FCapture) emit MarksChanged();
  return true;
}

bool TMarkControl::MarkShownItem(uint64_t seq, const QString& text) {
  const TTrafficSource* marked;
  uint64_t base;
  TTrafficMarks& marks = Scope(marked, base);
  if (marked == &FLive) return AddMark(seq, text);
  if (!marked->Holds(seq + base)) return false;
  marks.Add(seq + base, marked->TimeUs(seq + base), CaptureMarkText(text.toStdString()));
  emit MarksChanged();
  return true;
}

void TMarkControl::MarkCurrent() {
  const uint64_t seq = FWindow.CurrentItem();
  if (seq == TAnalysisWindow::kNoItem) {
    Say(QString::fromUtf8("Nejprve vyberte řádek, který chcete označit."));
    return;
  }
  const TTrafficSource* marked;
  uint64_t base;
  const TTrafficMarks& marks = Scope(marked, base);
  const std::size_t at = marks.Find(seq + base);
  const QString old = at < marks.Count() ? QString::fromStdString(marks.Items()[at].Text) : "";
  const QString text = AskMarkText ? AskMarkText(old) : QString("");
  if (text.isNull()) return;
  MarkShownItem(seq, text);
}

bool TMarkControl::GoToMark(bool forward) {
  const TTrafficSource* marked;
  uint64_t base;
  const TTrafficMarks& marks = Scope(marked, base);
  const uint64_t current = FWindow.CurrentItem();
  const TTrafficSource& shown = FWindow.ShownTraffic();
  // Without a current row: from the first row forward, from the last back.
  const TTrafficMark* mark =
      current != TAnalysisWindow::kNoItem
          ? (forward ? marks.After(*marked, current + base) : marks.Before(*marked, current + base))
      : forward ? marks.AtOrAfter(*marked, shown.First() + base)
                : marks.Before(*marked, shown.End() + base);
  if (!mark || mark->Seq < base || !FWindow.SelectItem(mark->Seq - base)) {
    Say(QString::fromUtf8(forward ? "Žádná další značka" : "Žádná předchozí značka"));
    return false;
  }
  Say(QString::fromUtf8("Značka: %1").arg(QString::fromStdString(mark->Text)));
  return true;
}

bool TMarkControl::ParseMoment(const QString& text, int64_t firstUs, int64_t& us) {
  const QString t = text.simplified();
  // Each form with the length of the moment it names.
  static const std::pair<const char*, int64_t> kTimes[] = {
      {"H:mm:ss.zzz", 1000}, {"H:mm:ss", 1000000}, {"H:mm", 60000000}};
  for (const auto& [format, span] : kTimes) {
    const QTime time = QTime::fromString(t, QString::fromLatin1(format));
    if (!time.isValid()) continue;
    // The first day from the first item's on whose moment has not ended
    // before the first item: "14:03" is the minute the history began in.
    const QDateTime first = QDateTime::fromMSecsSinceEpoch(firstUs / 1000);
    QDateTime at(first.date(), time);
    if (at.toMSecsSinceEpoch() * 1000 + span <= firstUs) at = at.addDays(1);
    us = at.toMSecsSinceEpoch() * 1000;
    return true;
  }
  static const char* const kDates[] = {"d. M. yyyy", "d.M.yyyy", "yyyy-MM-dd"};
  for (const char* dateFormat : kDates)
    for (const auto& [timeFormat, span] : kTimes) {
      const QString format =
          QString::fromLatin1(dateFormat) + QLatin1Char(' ') + QString::fromLatin1(timeFormat);
      const QDateTime at = QDateTime::fromString(t, format);
      if (!at.isValid()) continue;
      us = at.toMSecsSinceEpoch() * 1000;
      return true;
    }
  return false;
}

bool TMarkControl::GoToTime(const QString& text) {
  const TTrafficSource& shown = FWindow.ShownTraffic();
  if (shown.Count() == 0) {
    Say(QString::fromUtf8("Provoz je prázdný."));
    return false;
  }
  int64_t us = 0;
  if (!ParseMoment(text, shown.TimeUs(shown.First()), us)) {
    Say(QString::fromUtf8("„%1“ není čas (14:03:05) ani datum a čas (8. 12. 2026 14:03:05).")
            .arg(text));
    return false;
  }
  const uint64_t seq = ItemAtOrAfter(shown, us);
  if (seq == shown.End() || !FWindow.SelectItem(seq)) {
    Say(QString::fromUtf8("Od %1 dál už není žádný řádek.").arg(MomentText(us)));
    return false;
  }
  Say(QString());
  return true;
}

void TMarkControl::Say(const QString& note) {
  FNote = note;
  FWindow.ShowTrafficNote(note);
}

// ---- the list -------------------------------------------------------------------

void TMarkControl::ShowMarkList() {
  if (!DialogMarks) {
    auto* dialog = new QDialog(FWindow.Host());
    dialog->setObjectName("DialogMarks");
    dialog->setWindowTitle(QString::fromUtf8("Značky"));
    ListMarks = new QTreeWidget(dialog);
    ListMarks->setObjectName("ListMarks");
    ListMarks->setRootIsDecorated(false);
    ListMarks->setHeaderLabels({QString::fromUtf8("Čas"), QString::fromUtf8("Poznámka")});
    ListMarks->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    // Each mark selects its row.
    connect(ListMarks, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
      if (!item) return;
      const auto seq = item->data(0, Qt::UserRole).toULongLong();
      const TTrafficSource* marked;
      uint64_t base;
      Scope(marked, base);
      if (seq < base || !FWindow.SelectItem(seq - base))
        Say(QString::fromUtf8("Řádek této značky není zobrazen."));
    });
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    QPushButton* remove =
        buttons->addButton(QString::fromUtf8("Odebrat"), QDialogButtonBox::ActionRole);
    remove->setObjectName("ButtonRemoveMark");
    connect(remove, &QPushButton::clicked, this, &TMarkControl::RemoveSelected);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::hide);
    auto* column = new QVBoxLayout(dialog);
    column->addWidget(ListMarks);
    column->addWidget(buttons);
    dialog->resize(420, 260);
    DialogMarks = dialog;
  }
  FillList();
  DialogMarks->show();
  DialogMarks->raise();
}

void TMarkControl::FillList() {
  if (!ListMarks) return;
  const QSignalBlocker quiet(ListMarks);
  ListMarks->clear();
  for (const TTrafficMark& mark : Marks().Items()) {
    auto* item = new QTreeWidgetItem(ListMarks,
                                     {MomentText(mark.TimeUs), QString::fromStdString(mark.Text)});
    item->setData(0, Qt::UserRole, QVariant::fromValue<qulonglong>(mark.Seq));
  }
}

void TMarkControl::RemoveSelected() {
  if (!ListMarks || !ListMarks->currentItem()) return;
  const std::size_t index =
      static_cast<std::size_t>(ListMarks->indexOfTopLevelItem(ListMarks->currentItem()));
  const TTrafficSource* marked;
  uint64_t base;
  Scope(marked, base).Remove(index);
  emit MarksChanged();
}
