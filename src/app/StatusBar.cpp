// TTrafficStatusBar: port, time connected, rates, totals, quality, drops.
#include "app/StatusBar.h"

#include <QLabel>
#include <QLocale>

#include "controls/Convert.h"

TTrafficStatusBar::TTrafficStatusBar(const TTrafficSource& source, QWidget* parent)
    : QStatusBar(parent), FRing(&source) {
  setObjectName("StatusBarTraffic");
  setSizeGripEnabled(false);
  auto label = [this](const char* name, const char* tip, QLabel* l = nullptr) {
    if (!l) {
      l = new QLabel(this);
      // Growing numbers must not widen the window: a narrow window cuts the
      // texts instead (the tool tips say what each is).
      l->setMinimumWidth(16);
    }
    l->setObjectName(name);
    l->setToolTip(QString::fromUtf8(tip));
    addWidget(l);
    return l;
  };
  LabelPort = label("LabelStatusPort", "Port, ke kterému je program připojen");
  // The clock changes every second, also on a silent line: a label whose
  // size stays, so that it does not lay the window out each time.
  LabelTime = new TCountLabel(this);
  label("LabelStatusTime", "Doba připojení", LabelTime);
  LabelRates = label("LabelStatusRates", "Přijaté bajty a položky za sekundu");
  LabelTotal = label("LabelStatusTotal", "Položky přijaté od spuštění");
  LabelQuality = label("LabelStatusQuality",
                       "Bajty, které nepatří k žádné známé zprávě, a jejich podíl ze všech "
                       "přijatých bajtů (kvalita linky)");
  LabelDropped =
      label("LabelStatusDropped", "Nejstarší položky, které se do záznamu provozu už nevešly");
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
  LabelTime->setVisible(FConnected);
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
}
