// TSessionControl: the session store of the window, and saving it.
#include "app/SessionControl.h"

#include <QAction>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QProgressDialog>

#include <algorithm>

#include "app/CaptureControl.h"
#include "app/ShownWindow.h"
#include "base/StoreFile.h"
#include "bus/uVantrelThr.h"
#include "capture/CaptureLog.h"
#include "config/Settings.h"
#include "controls/Convert.h"
#include "controls/MsgBox.h"
#include "session/BusSession.h"
#include "session/KeptCapture.h"
#include "session/SessionSave.h"
#include "session/SessionStore.h"

struct TSessionControl::TSave {
  std::thread Thread;
  std::atomic<bool> Cancel{false};
  std::atomic<bool> Done{false};
  std::atomic<uint64_t> Written{0};
  std::atomic<uint64_t> Total{0};
  bool Ok = false;
  std::string Error;
  std::string Folder;  // a previous run's session: marked closed once saved

  ~TSave() {
    Cancel = true;
    if (Thread.joinable()) Thread.join();
  }
};

TSessionControl::TSessionControl(TShownWindow& window, TBusSession& session)
    : FWindow(window), FSession(session) {
  FTick.setInterval(250);
  connect(&FTick, &QTimer::timeout, this, &TSessionControl::Tick);
  FPoll.setInterval(100);
  connect(&FPoll, &QTimer::timeout, this, &TSessionControl::PollSave);
  AskSavePath = [this](const QString& suggested) {
    return AskCaptureLogPath(FWindow.Host(), QString::fromUtf8("Uložit relaci jako záznam"),
                             suggested);
  };
}

TSessionControl::~TSessionControl() = default;

std::string TSessionControl::Root() { return CacheFolder("vVantrelBus"); }

void TSessionControl::AddSaveAction(QMenu* menu) {
  ActionSave = menu->addAction(QString::fromUtf8("Uložit relaci…"));
  ActionSave->setObjectName("ActionSaveSession");
  ActionSave->setToolTip(QString::fromUtf8(
      "Uložit celou relaci od připojení (nebo vybrané řádky provozu) jako záznam"));
  connect(ActionSave, &QAction::triggered, this, &TSessionControl::SaveClicked);
}

bool TSessionControl::OpenStore(const TMonitorSettings& settings) {
  if (FSession.Store() || settings.SessionStore == 0) return false;
  if (FSession.Traffic().End() != 0) return false;  // the store must see every item
  const std::string root = Root();
  if (root.empty()) return false;
  // This run's own store counts as one of those kept; the previous one stays
  // whatever the setting, as the start may be offering to save it.
  TSessionStore::RemoveOldSessions(root, std::max(settings.SessionsKept - 1, 1));
  auto store = std::make_unique<TSessionStore>();
  if (!store->Create(root, WallClockUs())) {
    FWindow.ShowTrafficNote(
        QString::fromUtf8("Relaci nelze ukládat na disk (%1); historie je jen v paměti.")
            .arg(FromStd(store->ErrorText())));
    return false;
  }
  store->SetSizeLimit(static_cast<uint64_t>(std::max(settings.SessionLimitMB, 1)) * 1000000);
  FSession.AttachStore(std::move(store));
  if (!FSession.Store()) return false;
  FTick.start();
  return true;
}

void TSessionControl::Tick() {
  TSessionStore* store = FSession.Store();
  if (!store) return;
  const bool failedBefore = store->Failed();
  FSession.FlushIfDue(WallClockUs());
  if (store->TakeDropNotice())
    FWindow.ShowTrafficNote(QString::fromUtf8(
        "Relace dosáhla limitu velikosti na disku: nejstarší část byla odstraněna."));
  if (store->Failed() && !failedBefore) {
    FWindow.ShowTrafficNote(
        QString::fromUtf8("Relaci už nelze ukládat na disk (%1); dál jen v paměti.")
            .arg(FromStd(store->ErrorText())));
    emit HistoryChanged();
  }
}

void TSessionControl::SaveClicked() {
  if (Saving()) return;
  const TTrafficSource& history = FSession.History();
  if (history.Count() == 0) {
    FWindow.ShowTrafficNote(QString::fromUtf8("Relace zatím nemá žádné položky."));
    return;
  }
  uint64_t from = history.First(), to = history.End();
  if (SelectedSpan) {
    uint64_t a = 0, b = 0;
    if (SelectedSpan(a, b) && a < b) from = a, to = b;
  }
  const QString folder = FromStd(MonitorSettings.CaptureFolder);
  const QString suggested =
      QDir(!folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QDir::homePath())
          .filePath(TCaptureControl::DefaultRecordName(QDateTime::currentDateTime()));
  const QString path = AskSavePath ? AskSavePath(suggested) : QString();
  if (!path.isEmpty()) SaveSpan(from, to, path);
}

bool TSessionControl::SaveSpan(uint64_t fromSeq, uint64_t toSeq, const QString& path,
                               const std::string& folder) {
  if (Saving()) return false;
  FSave = std::make_unique<TSave>();
  TSave& save = *FSave;
  save.Folder = folder;
  TCaptureHeader header;
  header.Program = "vVantrelBus " + QCoreApplication::applicationVersion().toStdString();
  if (folder.empty()) header.Port = FWindow.RunPort();
  const std::string target = QFile::encodeName(path).toStdString();
  std::string source = folder;
  std::vector<TTrafficMark> marks;
  if (folder.empty() && Marks) marks = Marks();
  if (source.empty()) {
    if (TSessionStore* store = FSession.Store(); store && !store->Failed()) {
      store->Flush();  // the reader beside it sees what is on disk
      source = store->Folder();
    } else {
      // The ring alone lives on this thread: saved here (a million items
      // at most).
      save.Total = toSeq - fromSeq;
      save.Ok = SaveTrafficSpan(FSession.History(), fromSeq, toSeq, target, header, save.Error,
                                nullptr, nullptr, marks);
      save.Done = true;
      PollSave();
      return true;
    }
  }
  save.Total = toSeq > fromSeq ? toSeq - fromSeq : 0;
  const bool own = folder.empty();
  save.Thread =
      std::thread([&save, source, own, fromSeq, toSeq, target, header, marks = std::move(marks)] {
        TSessionStore reader;
        if (!reader.OpenExisting(source, own)) {
          save.Error = reader.ErrorText();
        } else {
          const uint64_t from = std::max(fromSeq, reader.First()),
                         to = std::min(toSeq, reader.End());
          save.Total = to > from ? to - from : 0;
          save.Ok = SaveTrafficSpan(reader, fromSeq, toSeq, target, header, save.Error,
                                    &save.Cancel, &save.Written, marks);
        }
        save.Done.store(true, std::memory_order_release);
      });
  FProgress = new QProgressDialog(QString::fromUtf8("Ukládám relaci…"), QString::fromUtf8("Zrušit"),
                                  0, 1000, FWindow.Host());
  FProgress->setObjectName("ProgressSaveSession");
  FProgress->setMinimumDuration(500);
  FProgress->setAutoClose(false);
  FProgress->setAutoReset(false);
  connect(FProgress, &QProgressDialog::canceled, this, [this] {
    if (FSave) FSave->Cancel = true;
  });
  if (ActionSave) ActionSave->setEnabled(false);
  FPoll.start();
  return true;
}

void TSessionControl::PollSave() {
  if (!FSave) return;
  if (!FSave->Done.load(std::memory_order_acquire)) {
    if (FProgress && FSave->Total > 0)
      FProgress->setValue(static_cast<int>(1000.0 * static_cast<double>(FSave->Written) /
                                           static_cast<double>(FSave->Total)));
    return;
  }
  FPoll.stop();
  if (FSave->Thread.joinable()) FSave->Thread.join();
  const bool ok = FSave->Ok;
  const bool cancelled = FSave->Cancel.load();
  const QString error = FromStd(FSave->Error);
  if (ok && !FSave->Folder.empty()) TSessionStore::MarkClosed(FSave->Folder);
  FSave.reset();
  if (FProgress) FProgress->deleteLater();
  if (ActionSave) ActionSave->setEnabled(true);
  if (ok)
    FWindow.ShowTrafficNote(QString::fromUtf8("Relace uložena."));
  else if (!cancelled)
    ShowMessageBox(FWindow.Host(), ErrorBoxTitle(),
                   QString::fromUtf8("Relaci nelze uložit: %1").arg(error), TMsgIcon::Error);
  emit SaveDone(ok, error);
}

bool TSessionControl::WaitSaved(int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (Saving() && clock.elapsed() < timeoutMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    PollSave();
  }
  return !Saving();
}

bool TSessionControl::OfferPrevious() {
  const std::string root = Root();
  if (root.empty()) return false;
  // Old sessions go at start; the newest, the one offered perhaps, stays.
  TSessionStore::RemoveOldSessions(root, std::max(MonitorSettings.SessionsKept, 1));
  // Captures converted by an earlier run: the last few stay, to be opened
  // again at once.
  TrimKeptCaptures(JoinPath(root, "captures"), kKeptCaptures);
  const std::string folder = TSessionStore::UnclosedSession(root);
  if (folder.empty()) return false;
  auto* box = new QMessageBox(
      QMessageBox::Question, QString::fromUtf8("Předchozí relace"),
      QString::fromUtf8("Předchozí relace neskončila zavřením okna (pád nebo násilné ukončení). "
                        "Uložit ji jako záznam?"),
      QMessageBox::Save | QMessageBox::Discard, FWindow.Host());
  box->setObjectName("BoxPreviousSession");
  box->setAttribute(Qt::WA_DeleteOnClose);
  connect(box, &QMessageBox::finished, this, [this, folder](int result) {
    if (result != QMessageBox::Save) {
      TSessionStore::MarkClosed(folder);  // not offered again; removed in its turn
      return;
    }
    const QString path =
        AskSavePath ? AskSavePath(QDir::home().filePath(
                          TCaptureControl::DefaultRecordName(QDateTime::currentDateTime())))
                    : QString();
    if (path.isEmpty() || !SaveSpan(0, UINT64_MAX, path, folder)) TSessionStore::MarkClosed(folder);
  });
  box->open();
  return true;
}
