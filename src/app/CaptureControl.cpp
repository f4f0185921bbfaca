// The window's capture files and its look into the past; see the header.
#include "app/CaptureControl.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressDialog>
#include <QToolButton>

#include <cstdio>
#include <exception>

#include "base/StoreFile.h"
#include "config/Settings.h"
#include "controls/Convert.h"
#include "controls/MsgBox.h"
#include "session/BusSession.h"

namespace {

QString SizeText(uint64_t bytes) {
  return QLocale().formattedDataSize(static_cast<qint64>(bytes), 1, QLocale::DataSizeSIFormat);
}

// The capture reader's reasons for a skipped line, in the window's language.
QString MalformedReasonText(const std::string& reason) {
  static const char* const kTexts[][2] = {
      {"line too long", "příliš dlouhý řádek"},
      {"neither a chunk nor a # line", "není to řádek s bajty ani řádek s #"},
      {"bad time", "chybný čas"},
      {"bytes must be separated by blanks", "bajty nejsou odděleny mezerou"},
      {"half a byte", "neúplný bajt"},
      {"not a hexadecimal byte", "bajt není šestnáctkové číslo"},
      {"chunk without bytes", "řádek bez bajtů"},
      {"bad gap", "chybná délka přerušení"},
  };
  for (const auto& t : kTexts)
    if (reason == t[0]) return QString::fromUtf8(t[1]);
  return FromStd(reason);
}

// A moment of a capture (which may be from another day) or of the live
// history (today's).
QString MomentText(int64_t us, bool withDate) {
  return QDateTime::fromMSecsSinceEpoch(us / 1000).toString(
      withDate ? QStringLiteral("d. M. yyyy HH:mm:ss.zzz") : QStringLiteral("HH:mm:ss.zzz"));
}

const QColor kPastBanner(255, 232, 130);
const QColor kRecordingText(170, 0, 0);

}  // namespace

QString AskCaptureLogPath(QWidget* parent, const QString& title, const QString& suggested) {
  QFileDialog dialog(parent, title, suggested,
                     QString::fromUtf8("Záznamy sběrnice (*.vlog *.vlog.gz);;Všechny soubory (*)"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(QStringLiteral("vlog"));
  dialog.selectFile(suggested);
  return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()
             ? dialog.selectedFiles().first()
             : QString();
}

TCaptureControl::TCaptureControl(TShownWindow& window, TRecordControl& record)
    : FWindow(window), FRecord(record) {
  connect(&FRecord, &TRecordControl::Ticked, this,
          [this] { ShowRecordLabel(QString::fromUtf8("Záznam: ")); });
  connect(&FRecord, &TRecordControl::Failed, this, &TCaptureControl::RecordingFailed);
  FPoll.setInterval(100);
  connect(&FPoll, &QTimer::timeout, this, &TCaptureControl::PollLoad);
  FSavedNoteOff.setSingleShot(true);
  FSavedNoteOff.setInterval(kSavedNoteMs);
  connect(&FSavedNoteOff, &QTimer::timeout, this, &TCaptureControl::ClearRecordNote);

  AskRecordPath = [this](const QString& suggested) {
    return AskCaptureLogPath(FWindow.Host(), QString::fromUtf8("Zaznamenávat provoz do souboru"),
                             suggested);
  };
  AskOpenPath = [this](const QString& folder) {
    return QFileDialog::getOpenFileName(
        FWindow.Host(), QString::fromUtf8("Otevřít záznam"), folder,
        QString::fromUtf8("Záznamy sběrnice (*.vlog *.vlog.gz *.bin *.bin.gz *.gz);;"
                          "Všechny soubory (*)"));
  };
}

TCaptureControl::~TCaptureControl() {
  FLoad.reset();  // stops its thread
}

QString TCaptureControl::DefaultRecordName(const QDateTime& now) {
  return QStringLiteral("vantrel-%1.vlog").arg(now.toString(QStringLiteral("yyyyMMdd-HHmmss")));
}

// ---- building -------------------------------------------------------------------

void TCaptureControl::BuildButtons(QWidget* panelLeft) {
  auto button = [panelLeft](const char* name, const char* caption, const char* tip, int y) {
    auto* b = new QToolButton(panelLeft);
    b->setObjectName(name);
    b->setText(QString::fromUtf8(caption));
    b->setToolTip(QString::fromUtf8(tip));
    b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    b->setGeometry(8, y, 129, 25);
    return b;
  };
  ButtonRecord = button("SpeedButtonRecord", "Záznam",
                        "Zaznamenávat vše přijaté z linky i s časy do souboru", 360);
  ButtonRecord->setCheckable(true);
  // Half the row: the marks' button ("Značky") takes the other half.
  ButtonRecord->setGeometry(8, 360, 62, 25);
  connect(ButtonRecord, &QToolButton::clicked, this, &TCaptureControl::RecordClicked);
  ButtonOpen = button("SpeedButtonOpen", "Otevřít záznam",
                      "Zobrazit dříve zaznamenaný provoz (bez připojení k portu)", 392);
  connect(ButtonOpen, &QToolButton::clicked, this, &TCaptureControl::OpenClicked);
  panelLeft->setMinimumHeight(424);
}

QWidget* TCaptureControl::BuildBanner(QWidget* parent) {
  PanelPast = new QFrame(parent);
  PanelPast->setObjectName("PanelPast");
  PanelPast->setFrameStyle(QFrame::Panel | QFrame::Raised);
  PanelPast->setAutoFillBackground(true);
  // Its own colour role: left unset it would inherit the window's button face.
  PanelPast->setBackgroundRole(QPalette::Window);
  QPalette p = PanelPast->palette();
  p.setColor(QPalette::Window, kPastBanner);
  PanelPast->setPalette(p);
  LabelPast = new QLabel(PanelPast);
  LabelPast->setObjectName("LabelPast");
  LabelPast->setMinimumWidth(40);
  // A narrow window wraps the text instead of cutting the time off.
  LabelPast->setWordWrap(true);
  ButtonPresent = new QToolButton(PanelPast);
  ButtonPresent->setObjectName("ButtonPresent");
  ButtonPresent->setToolButtonStyle(Qt::ToolButtonTextOnly);
  connect(ButtonPresent, &QToolButton::clicked, this, &TCaptureControl::ShowPresent);
  ButtonCloseCapture = new QToolButton(PanelPast);
  ButtonCloseCapture->setObjectName("ButtonCloseCapture");
  ButtonCloseCapture->setText(QString::fromUtf8("Zavřít záznam"));
  ButtonCloseCapture->setToolTip(QString::fromUtf8("Zpět k vlastnímu provozu a připojení"));
  ButtonCloseCapture->setToolButtonStyle(Qt::ToolButtonTextOnly);
  connect(ButtonCloseCapture, &QToolButton::clicked, this, &TCaptureControl::CloseCapture);
  auto* row = new QHBoxLayout(PanelPast);
  row->setContentsMargins(6, 2, 2, 2);
  row->setSpacing(4);
  row->addWidget(LabelPast, 1);
  row->addWidget(ButtonPresent);
  row->addWidget(ButtonCloseCapture);
  PanelPast->hide();
  return PanelPast;
}

void TCaptureControl::Start() {
  LabelRecord = new QLabel;
  LabelRecord->setObjectName("LabelStatusRecord");
  FWindow.AddStatusLabel(LabelRecord);  // shown while it has a text
  ButtonOpen->setEnabled(!FWindow.Connected());
}

// ---- recording ------------------------------------------------------------------

void TCaptureControl::RecordClicked(bool on) {
  if (!on) {
    StopRecording();
    return;
  }
  const QString suggested =
      QDir(FolderForFiles()).filePath(DefaultRecordName(QDateTime::currentDateTime()));
  const QString path = AskRecordPath ? AskRecordPath(suggested) : QString();
  if (path.isEmpty() || !StartRecording(path)) ButtonRecord->setChecked(false);
}

bool TCaptureControl::StartRecording(const QString& path) {
  if (Recording()) StopRecording();
  TCaptureHeader header;
  header.Port = FWindow.RunPort();
  header.Line = CaptureLineText(Settings.Baud, Settings.Bits, ParityLetter(Settings.Parity),
                                Settings.StopBit, Settings.SoftFlow, Settings.HardFlow);
  header.Program = "vVantrelBus " + QCoreApplication::applicationVersion().toStdString();
  header.StartUs = WallClockUs();
  if (!FRecord.Start(QFile::encodeName(path).toStdString(), header)) {
    ButtonRecord->setChecked(false);
    ShowMessageBox(FWindow.Host(), ErrorBoxTitle(),
                   QString::fromUtf8("Záznam nelze uložit do souboru %1: %2")
                       .arg(path, FromStd(FRecord.ErrorText())),
                   TMsgIcon::Error);
    return false;
  }
  RememberFolder(path);
  ButtonRecord->setChecked(true);
  ShowRecordLabel(QString::fromUtf8("Záznam: "));
  return true;
}

bool TCaptureControl::StopRecording() {
  if (!Recording()) return true;
  const bool ok = FRecord.Stop();
  ButtonRecord->setChecked(false);
  if (ok) {
    ShowRecordLabel(QString::fromUtf8("Záznam uložen: "));
    FSavedNoteOff.start();
    return true;
  }
  const QString why = FromStd(FRecord.ErrorText());
  ShowRecordLabel(QString::fromUtf8("Záznam neúplný (%1): ").arg(why));
  ShowMessageBox(FWindow.Host(), ErrorBoxTitle(),
                 QString::fromUtf8("Záznam %1 se nepodařilo dokončit: %2")
                     .arg(FromStd(FRecord.Recorder().Path()), why),
                 TMsgIcon::Error);
  return false;
}

void TCaptureControl::RecordingFailed() {
  const TCaptureRecorder& recorder = FRecord.Recorder();
  ButtonRecord->setChecked(false);
  const QString why = FromStd(recorder.ErrorText());
  ShowRecordLabel(QString::fromUtf8("Záznam zastaven (%1): ").arg(why));
  // The monitor goes on: the box comes after this notice, not inside a write.
  ShowMessageBox(FWindow.Host(), ErrorBoxTitle(),
                 QString::fromUtf8("Záznam do souboru %1 byl zastaven: %2.\n"
                                   "Co bylo zapsáno, v souboru zůstává; sledování pokračuje.")
                     .arg(FromStd(recorder.Path()), why),
                 TMsgIcon::Warning);
}

void TCaptureControl::ShowRecordLabel(const QString& prefix) {
  const QString path = FromStd(FRecord.Recorder().Path());
  LabelRecord->setText(
      QStringLiteral("%1%2 (%3)")
          .arg(prefix, QFileInfo(path).fileName(), SizeText(FRecord.Recorder().FileBytes())));
  LabelRecord->setToolTip(path);
  // Red while it records.  The text takes the button face's text colour of
  // the window it sits in, so both roles are set.
  QPalette p = LabelRecord->parentWidget()->palette();
  if (Recording()) {
    p.setColor(QPalette::WindowText, kRecordingText);
    p.setColor(QPalette::ButtonText, kRecordingText);
  }
  // Set only when it changes: a new palette repaints, and the label is
  // shown anew four times a second while recording.
  if (LabelRecord->palette() != p) LabelRecord->setPalette(p);
  FSavedNoteOff.stop();
  emit RecordLabelChanged();
}

void TCaptureControl::ClearRecordNote() {
  // Only a note of a finished recording; a running one keeps its label.
  if (Recording() || LabelRecord->text().isEmpty()) return;
  FSavedNoteOff.stop();
  LabelRecord->clear();
  LabelRecord->setToolTip(QString());
  emit RecordLabelChanged();
}

void TCaptureControl::ConnectionToggled(bool connected) {
  ClearRecordNote();
  ButtonOpen->setEnabled(!connected);
  ButtonOpen->setToolTip(QString::fromUtf8(
      connected ? "Záznam lze otevřít jen bez připojení k portu: nejprve se odpojte"
                : "Zobrazit dříve zaznamenaný provoz (bez připojení k portu)"));
  if (connected) {
    // Connecting is going back to the live bus: an opened capture (or one
    // still being read) and a look into the past end here.
    if (FLoad) {
      FLoad.reset();
      FPoll.stop();
      delete FProgress;
      emit CaptureLoaded(false);
    }
    CloseCapture();
    if (FMode == mdLivePast) ShowPresent();
  }
}

// ---- opening --------------------------------------------------------------------

QString TCaptureControl::FolderForFiles() const {
  const QString folder = FromStd(MonitorSettings.CaptureFolder);
  return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QDir::homePath();
}

void TCaptureControl::RememberFolder(const QString& path) {
  const std::string folder = QFileInfo(path).absolutePath().toStdString();
  if (folder == MonitorSettings.CaptureFolder) return;
  MonitorSettings.CaptureFolder = folder;
  try {
    SaveMonitorSettings();
  } catch (const std::exception&) {
    // Kept in memory; the window tries again, and reports, when it closes.
  }
}

void TCaptureControl::OpenClicked() {
  if (FWindow.Connected() || FLoad) return;
  const QString path = AskOpenPath ? AskOpenPath(FolderForFiles()) : QString();
  if (!path.isEmpty()) OpenCapture(path);
}

bool TCaptureControl::OpenCapture(const QString& path) {
  if (FWindow.Connected()) {
    ShowMessageBox(FWindow.Host(), QString::fromUtf8("Otevřít záznam"),
                   QString::fromUtf8("Záznam lze otevřít jen bez připojení k portu: nejprve se "
                                     "odpojte."),
                   TMsgIcon::Information);
    return false;
  }
  if (FLoad) return false;
  ClearRecordNote();
  RememberFolder(path);
  TCaptureLoad::TOptions options;
  // A raw capture's bytes came at the line's speed: start, data, parity and stop bits.
  options.Baud = Settings.Baud;
  options.LineBitsPerByte =
      1 + Settings.Bits + (Settings.Parity != 0 ? 1 : 0) + (Settings.StopBit == 0 ? 1 : 2);
  options.Filter = FWindow.TrafficFilter();
  options.MaxLoko = FWindow.TrafficMaxLoko();
  // Converted into a store on disk, as the live session is kept, unless the
  // session is to stay in memory.
  if (MonitorSettings.SessionStore != 0) {
    const std::string cache = CacheFolder("vVantrelBus");
    if (!cache.empty()) options.StoreRoot = JoinPath(cache, "captures");
  }
  FLoad = std::make_unique<TCaptureLoad>(QFile::encodeName(path).toStdString(), options);
  FLoadPath = path;
  FLoad->Start();

  auto* progress = new QProgressDialog(FWindow.Host());
  progress->setObjectName("ProgressCapture");
  progress->setWindowTitle(QString::fromUtf8("Otevřít záznam"));
  progress->setLabelText(QString::fromUtf8("Načítám záznam %1…").arg(QFileInfo(path).fileName()));
  progress->setCancelButtonText(QString::fromUtf8("Zrušit"));
  progress->setRange(0, 1000);
  progress->setAutoClose(false);
  progress->setAutoReset(false);
  // The window keeps repainting behind it; only its input waits.
  progress->setWindowModality(Qt::WindowModal);
  progress->setMinimumDuration(400);
  connect(progress, &QProgressDialog::canceled, this, [this] {
    if (FLoad) FLoad->Cancel();
  });
  FProgress = progress;
  ButtonOpen->setEnabled(false);
  FPoll.start();
  return true;
}

bool TCaptureControl::WaitLoaded(int timeoutMs) {
  if (!FLoad) return true;
  QEventLoop loop;
  QTimer limit;
  limit.setSingleShot(true);
  connect(this, &TCaptureControl::CaptureLoaded, &loop, &QEventLoop::quit);
  connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
  limit.start(timeoutMs);
  loop.exec();
  return !FLoad;
}

void TCaptureControl::PollLoad() {
  if (!FLoad) {
    FPoll.stop();
    return;
  }
  if (!FLoad->Done()) {
    if (FProgress) {
      const double share = FLoad->Progress();
      if (share < 0)
        FProgress->setRange(0, 0);
      else
        FProgress->setValue(static_cast<int>(share * 1000));
      FProgress->setLabelText(QString::fromUtf8("Načítám záznam %1…\n%2 dat sběrnice, %3 položek")
                                  .arg(QFileInfo(FLoadPath).fileName(), SizeText(FLoad->BusBytes()),
                                       CountText(FLoad->Items())));
    }
    return;
  }
  FPoll.stop();
  TCaptureContents contents = FLoad->Take();
  FLoad.reset();
  // Gone now, not later: its timer would show it again (from 400 ms on)
  // inside the message box that may follow.
  delete FProgress;
  ButtonOpen->setEnabled(!FWindow.Connected());
  Install(std::move(contents));
}

void TCaptureControl::Install(TCaptureContents contents) {
  const QString path = FromStd(contents.Path);
  const QString name = QFileInfo(path).fileName();
  if (contents.Cancelled) {
    emit CaptureLoaded(false);
    return;
  }
  QStringList notes;
  if (contents.MalformedLines > 0)
    notes << QString::fromUtf8("Přeskočeno chybných řádků: %1 (první je řádek %2: %3).")
                 .arg(CountText(contents.MalformedLines), CountText(contents.FirstMalformedLine),
                      MalformedReasonText(contents.FirstMalformedReason));
  if (!contents.Session || contents.Session->History().End() == 0) {
    QString text;
    if (!contents.Session)
      text =
          QString::fromUtf8("Záznam %1 nelze otevřít: %2").arg(path, FromStd(contents.ErrorText));
    else if (!contents.ErrorText.empty())
      text =
          QString::fromUtf8("Záznam %1 nelze přečíst: %2").arg(path, FromStd(contents.ErrorText));
    else
      text = QString::fromUtf8("Záznam %1 neobsahuje žádná data ze sběrnice.").arg(path);
    if (!notes.isEmpty()) text += "\n" + notes.join("\n");
    ShowMessageBox(FWindow.Host(), ErrorBoxTitle(), text, TMsgIcon::Error);
    emit CaptureLoaded(false);
    return;
  }
  if (!contents.ErrorText.empty())
    notes << QString::fromUtf8("Čtení skončilo chybou (%1); zobrazeno je, co se přečetlo.")
                 .arg(FromStd(contents.ErrorText));
  if (contents.Truncated)
    notes << QString::fromUtf8(
        "Záznam končí uprostřed řádku (zápis byl přerušen); zobrazeno je vše do posledního celého "
        "bajtu.");
  if (contents.CutShort)
    notes << QString::fromUtf8(
                 "Záznam se celý nevejde do paměti: načteno prvních %1 položek (do %2).")
                 .arg(CountText(contents.Session->History().End()),
                      MomentText(contents.EndUs, true));

  if (FMode == mdPresent) LeavePresent();
  auto capture = std::make_unique<TCaptureContents>(std::move(contents));
  // The views move on first, then an earlier capture goes.
  FWindow.ShowHistory(capture.get(), name);
  FCapture = std::move(capture);
  FMode = mdCapture;
  ShowPresent();
  if (!notes.isEmpty())
    ShowMessageBox(FWindow.Host(), QString::fromUtf8("Otevřít záznam"),
                   QString::fromUtf8("Záznam %1 je otevřen.\n").arg(path) + notes.join("\n"),
                   TMsgIcon::Warning);
  emit CaptureLoaded(true);
}

void TCaptureControl::CloseCapture() {
  if (!FCapture) return;
  FWindow.ShowHistory(nullptr, QString());
  FCapture.reset();
  FMode = mdLivePast;  // what the window showed before comes back
  ShowPresent();
}

// ---- the past -------------------------------------------------------------------

bool TCaptureControl::ShowItemState(uint64_t seq) {
  TBusState state;
  if (FMode == mdCapture) {
    if (!FCapture->Session->StateAfter(seq, state)) return false;
    FWindow.ShowBusState(state);
    ShowBanner(QString::fromUtf8("Záznam %1: stav k %2 (vybraný řádek)")
                   .arg(QFileInfo(FromStd(FCapture->Path)).fileName(),
                        MomentText(FCapture->Session->History().TimeUs(seq), true)));
    return true;
  }
  // While connected the grid and the status panel follow the bus.
  if (FWindow.Connected()) return false;
  const TBusSession& live = FWindow.Session();
  const TTrafficSource& ring = live.History();
  if (!live.StateAfter(seq, state)) {
    if (ring.Holds(seq))
      FWindow.ShowTrafficNote(
          QString::fromUtf8("Stav k tomuto řádku už není známý: starší položky byly zahozeny."));
    return false;
  }
  if (FMode == mdPresent) LeavePresent();
  FWindow.ShowBusState(state);
  ShowBanner(QString::fromUtf8("Minulost: stav k %1 (vybraný řádek provozu)")
                 .arg(MomentText(ring.TimeUs(seq), false)));
  return true;
}

void TCaptureControl::ShowPlayedMoment(int64_t timeUs) {
  if (FMode != mdCapture) return;
  ShowBanner(QString::fromUtf8("Záznam %1: přehrávání, stav k %2")
                 .arg(QFileInfo(FromStd(FCapture->Path)).fileName(), MomentText(timeUs, true)));
}

void TCaptureControl::ShowPresent() {
  // Clicking the same row again shows its moment again.
  FWindow.ClearTrafficSelection();
  if (FMode == mdCapture) {
    FWindow.ShowBusState(FCapture->Session->Present());
    ShowBanner(
        QString::fromUtf8("Záznam %1: stav na konci (%2)")
            .arg(QFileInfo(FromStd(FCapture->Path)).fileName(), MomentText(FCapture->EndUs, true)));
    return;
  }
  if (FMode == mdLivePast) FWindow.RestorePresent();
  FMode = mdPresent;
  PanelPast->hide();
}

void TCaptureControl::LeavePresent() {
  FWindow.HoldPresent();
  FMode = mdLivePast;
}

void TCaptureControl::ShowBanner(const QString& text) {
  LabelPast->setText(text);
  const bool capture = FMode == mdCapture;
  ButtonPresent->setText(QString::fromUtf8(capture ? "Konec záznamu" : "Zpět na současnost"));
  ButtonPresent->setToolTip(QString::fromUtf8(capture ? "Stav mřížky a centrály na konci záznamu"
                                                      : "Stav mřížky a centrály, jak je teď"));
  ButtonCloseCapture->setVisible(capture);
  if (capture) {
    const TCaptureContents& c = *FCapture;
    QString tip = QString::fromUtf8("%1\n%2 – %3, %4 položek, %5 dat sběrnice")
                      .arg(FromStd(c.Path), MomentText(c.StartUs, true), MomentText(c.EndUs, true),
                           CountText(c.Session->History().End()),
                           SizeText(c.Session->History().TotalBytes()));
    if (!c.Port.empty())
      tip += QString::fromUtf8("\nport %1 %2").arg(FromStd(c.Port), FromStd(c.Line));
    if (!c.Program.empty()) tip += QString::fromUtf8("\nzaznamenal %1").arg(FromStd(c.Program));
    if (c.Gaps > 0) tip += QString::fromUtf8("\npřerušení spojení: %1").arg(CountText(c.Gaps));
    if (!c.IsLog)
      tip += QString::fromUtf8("\nsurový záznam bez časů: časy jsou odhadnuty z rychlosti linky");
    LabelPast->setToolTip(tip);
  } else {
    LabelPast->setToolTip(QString());
  }
  PanelPast->show();
}
