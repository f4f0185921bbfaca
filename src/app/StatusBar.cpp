// TTrafficStatusBar: port, time connected, rates, totals, quality, drops.
#include "app/StatusBar.h"

#include <QEvent>
#include <QLabel>
#include <QLocale>
#include <QStyle>

#include <algorithm>

#include "controls/Convert.h"

TTrafficStatusBar::TTrafficStatusBar(const TTrafficSource& source, QWidget* parent)
    : QStatusBar(parent), FRing(&source) {
  setObjectName("StatusBarTraffic");
  setSizeGripEnabled(false);
  // rank: the higher, the sooner a field gives way when the bar is narrow.
  auto label = [this](const char* name, const char* tip, int rank, QLabel* l = nullptr) {
    if (!l) l = new QLabel(this);
    l->setObjectName(name);
    l->setToolTip(QString::fromUtf8(tip));
    addWidget(l);
    AddField(l, rank);
    return l;
  };
  LabelPort = label("LabelStatusPort", "Port, ke kterému je program připojen", 0);
  // The clock changes every second, also on a silent line: a label whose
  // size stays, so that it does not lay the window out each time.
  LabelTime = new TCountLabel(this);
  label("LabelStatusTime", "Doba připojení", 5, LabelTime);
  LabelRates = label("LabelStatusRates", "Přijaté bajty a položky za sekundu", 6);
  LabelTotal = label("LabelStatusTotal", "Položky přijaté od spuštění", 2);
  LabelQuality = label("LabelStatusQuality",
                       "Bajty, které nepatří k žádné známé zprávě, a jejich podíl ze všech "
                       "přijatých bajtů (kvalita linky)",
                       7);
  LabelDropped =
      label("LabelStatusDropped", "Nejstarší položky, které se do záznamu provozu už nevešly", 4);
  FTick.setInterval(1000);
  connect(&FTick, &QTimer::timeout, this, &TTrafficStatusBar::Tick);
  Disconnected();
}

void TTrafficStatusBar::Connected(const QString& port) {
  FConnected = true;
  LabelPort->setText(port);
  FSince.start();
  FRateClock.start();
  FRateItems = FRing->TotalItems();
  FRateBytes = FRing->TotalBytes();
  FItemsPerSecond = FBytesPerSecond = 0;
  FTick.start();
  UpdateFigures();
}

void TTrafficStatusBar::SetSource(const TTrafficSource& source) {
  FRing = &source;
  FRateItems = FRing->TotalItems();
  FRateBytes = FRing->TotalBytes();
  FItemsPerSecond = FBytesPerSecond = 0;
  UpdateFigures();
}

void TTrafficStatusBar::Disconnected() {
  FConnected = false;
  FTick.stop();
  FItemsPerSecond = FBytesPerSecond = 0;
  LabelPort->setText(QString::fromUtf8("odpojeno"));
  UpdateFigures();
}

void TTrafficStatusBar::Waiting(const QString& port) {
  Disconnected();
  LabelPort->setText(QString::fromUtf8("%1: čekám na port").arg(port));
}

void TTrafficStatusBar::Tick() {
  const qint64 ms = FRateClock.restart();
  if (ms > 0) {
    FItemsPerSecond = static_cast<double>(FRing->TotalItems() - FRateItems) * 1000.0 / ms;
    FBytesPerSecond = static_cast<double>(FRing->TotalBytes() - FRateBytes) * 1000.0 / ms;
  }
  FRateItems = FRing->TotalItems();
  FRateBytes = FRing->TotalBytes();
  UpdateFigures();
}

void TTrafficStatusBar::UpdateFigures() {
  const QLocale locale;
  if (FConnected) {
    const qint64 s = FSince.elapsed() / 1000;
    LabelTime->SetCount(QStringLiteral("%1:%2:%3")
                            .arg(s / 3600)
                            .arg(s / 60 % 60, 2, 10, QChar('0'))
                            .arg(s % 60, 2, 10, QChar('0')));
  } else {
    LabelTime->setText(QString());
  }
  LabelRates->setText(QString::fromUtf8("%1 B/s, %2 pol./s")
                          .arg(locale.toString(FBytesPerSecond, 'f', 0))
                          .arg(locale.toString(FItemsPerSecond, 'f', 0)));
  LabelTotal->setText(QString::fromUtf8("celkem %1").arg(CountText(FRing->TotalItems())));
  const uint64_t bad = FRing->UnrecognisedBytes();
  const uint64_t all = FRing->TotalBytes();
  const double share = all ? 100.0 * static_cast<double>(bad) / static_cast<double>(all) : 0.0;
  LabelQuality->setText(QString::fromUtf8("nerozpoznáno %1 B (%2 %)")
                            .arg(CountText(bad))
                            .arg(locale.toString(share, 'f', share > 0 && share < 0.1 ? 3 : 1)));
  LabelDropped->setText(QString::fromUtf8("zahozeno %1").arg(CountText(FRing->Dropped())));
  FitFields();
}

void TTrafficStatusBar::AddField(QLabel* field, int rank) {
  // A field is shown whole or not at all: its minimum is its text's width
  // while shown, and a narrow bar leaves it out instead of cutting it.
  field->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
  auto at = std::upper_bound(FFields.begin(), FFields.end(), rank,
                             [](int r, const TField& f) { return r < f.Rank; });
  FFields.insert(at, {field, rank});
  if (field->parentWidget() != this) addPermanentWidget(field);
  FitFields();
}

void TTrafficStatusBar::FitFields() {
  if (FFitting) return;
  FFitting = true;
  // The items' frames and the gaps between them, as the bar lays them out.
  const int gap = std::max(6, style()->pixelMetric(QStyle::PM_LayoutHorizontalSpacing)) + 4;
  int room = contentsRect().width() - 8;
  QStringList leftOut;
  for (const TField& f : FFields) {
    // An empty field has nothing to say (the clock while disconnected, the
    // recording when there is none).
    const QString text = f.Label->text();
    if (text.isEmpty()) {
      if (!f.Label->isHidden()) f.Label->hide();
      continue;
    }
    const int width = f.Label->sizeHint().width();
    const bool fits = width + gap <= room;
    if (fits) {
      room -= width + gap;
    } else {
      leftOut << text;
    }
    if (f.Label->isHidden() == fits) f.Label->setVisible(fits);
  }
  const QString tip = leftOut.join(QLatin1Char('\n'));
  if (toolTip() != tip) setToolTip(tip);
  FFitting = false;
}

QList<QLabel*> TTrafficStatusBar::FieldsLeftOut() const {
  QList<QLabel*> out;
  for (const TField& f : FFields)
    if (!f.Label->text().isEmpty() && f.Label->isHidden()) out << f.Label;
  return out;
}

bool TTrafficStatusBar::event(QEvent* event) {
  // A shown field's text changed (its size with it).
  if (event->type() == QEvent::LayoutRequest) FitFields();
  return QStatusBar::event(event);
}

void TTrafficStatusBar::resizeEvent(QResizeEvent* event) {
  QStatusBar::resizeEvent(event);
  FitFields();
}
