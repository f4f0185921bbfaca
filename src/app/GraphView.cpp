// The graph view "Graf": painting the series over one time axis.
#include "app/GraphView.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImageWriter>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "config/Settings.h"
#include "controls/MsgBox.h"
#include "series/SeriesCsv.h"

namespace {

constexpr int kLeftMargin = 50;  // lane captions of the axis
constexpr int kRightMargin = 6;
constexpr int kAxisHeight = 16;  // time labels
constexpr int kPowerHeight = 16;
constexpr int kLaneGap = 3;

struct TCurve {
  TSeries Series;
  QColor Colour;
  QColor Band;  // invalid: no band
  bool Dashed = false;
};

int64_t NowUs() { return QDateTime::currentMSecsSinceEpoch() * 1000; }

int64_t FloorSecond(int64_t us) {
  return us >= 0 ? us / kUsPerSecond : -((-us + kUsPerSecond - 1) / kUsPerSecond);
}

QString DeviceText(int address) {
  return QStringLiteral("%1").arg(address, 2, 16, QLatin1Char('0')).toUpper();
}

QString PowerText(uint8_t state) {
  if (state == kPowerOn) return QString::fromUtf8("zapnuto");
  if (state == kPowerNone) return QString::fromUtf8("bez dat");
  return QStringLiteral("$%1").arg(state, 2, 16, QLatin1Char('0')).toUpper();
}

QColor PowerColour(uint8_t state) {
  switch (state) {
    case kPowerOn:
      return QColor(0, 255, 0);  // as the power panel
    case 0x81:
      return QColor(255, 0, 0);
    case 0x82:
      return QColor(255, 110, 0);
    default:
      return QColor(200, 0, 110);
  }
}

QString SpanText(int64_t us) {
  const int64_t s = us / kUsPerSecond;
  if (s < 120) return QStringLiteral("%1 s").arg(s);
  if (s < 2 * 3600) return QStringLiteral("%1 min").arg((s + 30) / 60);
  if (s < 48 * 3600) {
    const int64_t m = (s + 30) / 60;
    return m % 60 ? QStringLiteral("%1 h %2 min").arg(m / 60).arg(m % 60)
                  : QStringLiteral("%1 h").arg(m / 60);
  }
  return QString::fromUtf8("%1 dní").arg(QLocale().toString(s / 86400.0, 'f', 1));
}

}  // namespace

// ---- the canvas --------------------------------------------------------------------

class TGraphCanvas : public QWidget {
public:
  explicit TGraphCanvas(TGraphView* view) : QWidget(view), FView(view) {
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(200, 180);
    setAttribute(Qt::WA_OpaquePaintEvent);
  }

  TTimeAxis MakeAxis() const {
    TTimeAxis a;
    a.StartUs = FView->ViewStartUs();
    a.EndUs = FView->ViewEndUs();
    a.Left = kLeftMargin;
    a.Width = std::max(1, width() - kLeftMargin - kRightMargin);
    return a;
  }

protected:
  void paintEvent(QPaintEvent*) override;
  void wheelEvent(QWheelEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;

private:
  void DrawLane(QPainter& p, const QRect& r, const TTimeAxis& axis, const QString& title,
                std::initializer_list<TCurve> curves, double minTop);
  void DrawPower(QPainter& p, const QRect& r, const TTimeAxis& axis);
  void DrawTimeAxis(QPainter& p, const QRect& plot, const TTimeAxis& axis,
                    const std::vector<int64_t>& ticks, int64_t step);

  TGraphView* FView;
  bool FPressed = false;
  bool FDragging = false;
  double FPressX = 0;
  int64_t FPressStartUs = 0;
};

void TGraphCanvas::paintEvent(QPaintEvent*) {
  FView->FDrawnEnd = FView->FStore->EndSecond();
  QPainter p(this);
  p.fillRect(rect(), palette().color(QPalette::Button));
  const TTimeAxis axis = MakeAxis();
  const QRect plot(kLeftMargin, 2, static_cast<int>(axis.Width), height() - 2 - kAxisHeight);

  // Lanes top to bottom: their share of the height, the power band fixed.
  enum TLane { lnCurrent, lnLoad, lnPower, lnTraffic, lnBad, lnDevice };
  struct TLaneBox {
    TLane Kind;
    int Weight;
    QRect Box;
  };
  std::vector<TLaneBox> lanes = {
      {lnCurrent, 3, {}}, {lnLoad, 2, {}}, {lnPower, 0, {}}, {lnTraffic, 3, {}}, {lnBad, 2, {}}};
  if (FView->DeviceShown()) lanes.push_back({lnDevice, 2, {}});
  int weights = 0;
  for (const auto& l : lanes) weights += l.Weight;
  const int free = std::max(0, plot.height() - kPowerHeight - kLaneGap * (int(lanes.size()) - 1));
  int y = plot.top();
  for (auto& l : lanes) {
    const int h = l.Weight ? free * l.Weight / weights : kPowerHeight;
    l.Box = QRect(plot.left(), y, plot.width(), h);
    y += h + kLaneGap;
  }

  int64_t step = 0;
  const std::vector<int64_t> ticks = TimeTicks(axis, 80, step);
  QFont small = font();
  small.setBold(false);
  small.setPixelSize(10);
  for (const auto& l : lanes) {
    p.setFont(font());
    if (l.Kind == lnPower) {
      DrawPower(p, l.Box, axis);
    } else {
      p.fillRect(l.Box, Qt::white);
      p.setPen(QColor(226, 226, 226));
      for (int64_t t : ticks) {
        const int x = static_cast<int>(std::lround(axis.XAt(t)));
        p.drawLine(x, l.Box.top(), x, l.Box.bottom());
      }
    }
    switch (l.Kind) {
      case lnPower:
        break;
      case lnCurrent:
        DrawLane(p, l.Box, axis, QString::fromUtf8("Proud [A]: Ia, Im"),
                 {{TSeries::srIa, QColor(0, 80, 200), QColor(200, 220, 255)},
                  {TSeries::srIm, QColor(176, 0, 0), QColor(), true}},
                 1);
        break;
      case lnLoad:
        DrawLane(p, l.Box, axis, QString::fromUtf8("Zátěž [%]"),
                 {{TSeries::srLoad, QColor(208, 112, 0), QColor(255, 224, 176)}}, 100);
        break;
      case lnTraffic:
        DrawLane(p, l.Box, axis, QString::fromUtf8("Provoz [1/s]: bajty, položky"),
                 {{TSeries::srBytes, QColor(0, 122, 48), QColor(192, 232, 200)},
                  {TSeries::srItems, QColor(112, 48, 160), QColor()}},
                 10);
        break;
      case lnBad:
        DrawLane(p, l.Box, axis, QString::fromUtf8("Nerozpoznané bajty [B/s]"),
                 {{TSeries::srBadBytes, QColor(192, 0, 0), QColor(244, 192, 192)}}, 10);
        break;
      case lnDevice:
        DrawLane(p, l.Box, axis,
                 QString::fromUtf8("Zařízení %1 [zpráv/s]").arg(DeviceText(FView->Device())),
                 {{TSeries::srDevice, QColor(0, 128, 128), QColor()}}, 1);
        break;
    }
    p.setPen(QColor(128, 128, 128));
    p.setBrush(Qt::NoBrush);
    p.drawRect(l.Box.adjusted(0, 0, -1, -1));
    if (l.Kind == lnPower) {
      p.setFont(small);
      p.setPen(Qt::black);
      p.drawText(QRect(0, l.Box.top(), kLeftMargin - 3, l.Box.height()),
                 Qt::AlignRight | Qt::AlignVCenter, QString::fromUtf8("Napájení"));
    }
  }

  // The picked moment across every lane.
  if (const int64_t sel = FView->SelectedUs(); sel >= axis.StartUs && sel < axis.EndUs) {
    const double x = axis.XAt(sel);
    p.setPen(QPen(Qt::black, 1, Qt::DashLine));
    p.drawLine(QPointF(x, plot.top()), QPointF(x, y - kLaneGap));
  }
  p.setFont(small);
  DrawTimeAxis(p, QRect(plot.left(), plot.top(), plot.width(), y - kLaneGap - plot.top()), axis,
               ticks, step);
  // Events as small triangles standing on the time axis.
  if (FView->AxisMarks) {
    std::vector<TGraphView::TAxisMark> marks;
    FView->AxisMarks(axis.StartUs, axis.EndUs, marks);
    const int base = y - kLaneGap;
    p.setPen(Qt::NoPen);
    for (const auto& m : marks) {
      const double x = axis.XAt(m.TimeUs);
      p.setBrush(m.Colour);
      const QPointF tri[3] = {{x, base - 6.0}, {x - 4.0, base + 1.0}, {x + 4.0, base + 1.0}};
      p.drawPolygon(tri, 3);
    }
  }
}

void TGraphCanvas::DrawLane(QPainter& p, const QRect& r, const TTimeAxis& axis,
                            const QString& title, std::initializer_list<TCurve> curves,
                            double minTop) {
  const TSeriesStore& store = *FView->FStore;
  std::vector<std::vector<std::vector<TBucket>>> runs;
  double top = minTop;
  for (const TCurve& c : curves) {
    runs.push_back(SeriesRuns(store, axis, c.Series, FView->Device()));
    for (const auto& run : runs.back())
      for (const TBucket& b : run) top = std::max<double>(top, b.Hi);
  }
  // Scaled to the seconds' values: a burst within a second (the band) may
  // reach beyond the top, and is cut there rather than squash the curve.
  top = NiceCeiling(top);
  // Room for the caption above the highest value.
  const double y0 = r.bottom() - 1, h = std::max(1, r.height() - 16);
  auto yAt = [&](double v) { return y0 - v / top * h; };

  p.save();
  p.setClipRect(r.adjusted(1, 1, -1, -1));
  size_t i = 0;
  for (const TCurve& c : curves) {
    const auto& curveRuns = runs[i++];
    if (c.Band.isValid())
      for (const auto& run : curveRuns)
        for (const TBucket& b : run)
          if (b.BandHi > b.BandLo)
            p.fillRect(QRectF(b.X0, yAt(b.BandHi), std::max(1.0, b.X1 - b.X0),
                              yAt(b.BandLo) - yAt(b.BandHi) + 1),
                       c.Band);
    p.setPen(QPen(c.Colour, 1, c.Dashed ? Qt::DashLine : Qt::SolidLine));
    for (const auto& run : curveRuns) {
      QPolygonF line;
      line.reserve(static_cast<qsizetype>(run.size() * 2));
      for (const TBucket& b : run) {
        line << QPointF(b.X0, yAt(b.Last)) << QPointF(std::max(b.X1, b.X0 + 1), yAt(b.Last));
        if (b.Hi > b.Lo) {
          const double x = std::floor(b.X0) + 0.5;
          p.drawLine(QPointF(x, yAt(b.Lo)), QPointF(x, yAt(b.Hi)));
        }
      }
      p.drawPolyline(line);
    }
  }
  p.restore();

  // Caption with its colours, and the scale in the margin.
  QFont small = font();
  small.setBold(false);
  small.setPixelSize(10);
  p.setFont(font());
  const QFontMetrics fm(font());
  p.setPen(Qt::black);
  p.drawText(r.left() + 4, r.top() + fm.ascent() + 1, title);
  int x = r.left() + 8 + fm.horizontalAdvance(title);
  for (const TCurve& c : curves) {
    p.fillRect(x, r.top() + 5, 14, 3, c.Colour);
    x += 18;
  }
  p.setFont(small);
  const QLocale locale;
  p.drawText(QRect(0, static_cast<int>(yAt(top)) - 6, kLeftMargin - 3, 12),
             Qt::AlignRight | Qt::AlignVCenter, locale.toString(top, 'g', 6));
  p.drawText(QRect(0, r.bottom() - 11, kLeftMargin - 3, 12), Qt::AlignRight | Qt::AlignBottom,
             QStringLiteral("0"));
}

void TGraphCanvas::DrawPower(QPainter& p, const QRect& r, const TTimeAxis& axis) {
  p.fillRect(r, QColor(222, 222, 222));  // no data
  p.save();
  p.setClipRect(r.adjusted(1, 1, -1, -1));
  const QFontMetrics fm(p.font());
  for (const TPowerInterval& iv : FView->FStore->PowerIntervals(axis.StartUs, axis.EndUs)) {
    if (iv.State == kPowerNone) continue;
    const double x0 = axis.XAt(iv.StartUs), x1 = std::max(axis.XAt(iv.EndUs), x0 + 1);
    const QRectF box(x0, r.top(), x1 - x0, r.height());
    p.fillRect(box, PowerColour(iv.State));
    const QString text = PowerText(iv.State);
    if (x1 - x0 > fm.horizontalAdvance(text) + 6) {
      p.setPen(iv.State == kPowerOn ? Qt::black : Qt::white);
      p.drawText(box, Qt::AlignCenter, text);
    }
  }
  p.restore();
}

void TGraphCanvas::DrawTimeAxis(QPainter& p, const QRect& plot, const TTimeAxis& axis,
                                const std::vector<int64_t>& ticks, int64_t step) {
  const QFontMetrics fm(p.font());
  const int y = plot.bottom() + 1;
  p.setPen(Qt::black);
  for (int64_t t : ticks) {
    const QDateTime dt = QDateTime::fromMSecsSinceEpoch(t / 1000);
    const bool midnight = dt.time() == QTime(0, 0);
    const QString text = step >= 86400 * kUsPerSecond || (midnight && step >= 3600 * kUsPerSecond)
                             ? dt.toString(QStringLiteral("d.M."))
                         : step < 60 * kUsPerSecond ? dt.toString(QStringLiteral("HH:mm:ss"))
                                                    : dt.toString(QStringLiteral("HH:mm"));
    const int x = static_cast<int>(std::lround(axis.XAt(t)));
    p.drawLine(x, y, x, y + 3);
    const int w = fm.horizontalAdvance(text);
    if (x - w / 2 < 0 || x + w / 2 > width()) continue;
    p.drawText(x - w / 2, y + 3 + fm.ascent(), text);
  }
}

void TGraphCanvas::wheelEvent(QWheelEvent* e) {
  const double steps = e->angleDelta().y() / 120.0;
  if (steps == 0) return;
  FView->Zoom(std::pow(0.8, steps), MakeAxis().TimeAt(e->position().x()));
  e->accept();
}

void TGraphCanvas::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  FPressed = true;
  FDragging = false;
  FPressX = e->position().x();
  FPressStartUs = FView->ViewStartUs();
}

void TGraphCanvas::mouseMoveEvent(QMouseEvent* e) {
  if (!FPressed) return;
  const double dx = e->position().x() - FPressX;
  if (!FDragging && std::abs(dx) < 4) return;
  FDragging = true;
  const TTimeAxis a = MakeAxis();
  const auto shift = static_cast<int64_t>(dx * static_cast<double>(a.SpanUs()) / a.Width);
  FView->SetView(FPressStartUs - shift, FPressStartUs - shift + a.SpanUs());
}

void TGraphCanvas::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || !FPressed) return;
  FPressed = false;
  if (!FDragging) FView->ClickAt(e->position().x());
  FDragging = false;
}

void TGraphCanvas::mouseDoubleClickEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  const int64_t t = MakeAxis().TimeAt(e->position().x());
  FView->SetSelected(t);
  emit FView->MomentActivated(t);
}

void TGraphCanvas::keyPressEvent(QKeyEvent* e) {
  const int64_t span = FView->ViewEndUs() - FView->ViewStartUs();
  const int64_t centre = FView->ViewStartUs() + span / 2;
  switch (e->key()) {
    case Qt::Key_Left:
      FView->Pan(-span / 10);
      break;
    case Qt::Key_Right:
      FView->Pan(span / 10);
      break;
    case Qt::Key_PageUp:
      FView->Pan(-span);
      break;
    case Qt::Key_PageDown:
      FView->Pan(span);
      break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
      FView->Zoom(0.5, centre);
      break;
    case Qt::Key_Minus:
      FView->Zoom(2.0, centre);
      break;
    case Qt::Key_Home:
      if (!FView->FStore->Empty()) {
        const int64_t first = FView->FStore->FirstSecond() * kUsPerSecond;
        FView->SetView(first, first + span);
      }
      break;
    case Qt::Key_End:
      FView->SetFollowing(true);
      break;
    default:
      QWidget::keyPressEvent(e);
      return;
  }
  e->accept();
}

// ---- the view ----------------------------------------------------------------------

TGraphView::TGraphView(const TSeriesStore& store, QWidget* parent)
    : QWidget(parent), FStore(&store) {
  setObjectName("GraphView");
  auto* bar = new QHBoxLayout;
  bar->setContentsMargins(2, 2, 2, 0);
  bar->setSpacing(3);
  auto button = [&](const char* name, const char* caption, const char* tip) {
    auto* b = new QToolButton(this);
    b->setObjectName(name);
    b->setText(QString::fromUtf8(caption));
    b->setToolTip(QString::fromUtf8(tip));
    b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    b->setMinimumHeight(23);
    b->setFocusPolicy(Qt::NoFocus);
    bar->addWidget(b);
    return b;
  };
  ButtonLive = button("ButtonLive", "Živě", "Sledovat nejnovější data (End)");
  ButtonLive->setCheckable(true);
  ButtonLive->setChecked(true);
  connect(ButtonLive, &QToolButton::clicked, this, [this](bool on) { SetFollowing(on); });
  ButtonDevice = button("ButtonDevice", "Zařízení",
                        "Četnost zpráv zařízení vybraného v mřížce jako další pruh grafu");
  ButtonDevice->setCheckable(true);
  ButtonDevice->setEnabled(false);
  connect(ButtonDevice, &QToolButton::clicked, this, [this] { ViewChanged(); });
  ButtonPng = button("ButtonPng", "PNG…", "Uložit zobrazený graf jako obrázek PNG");
  connect(ButtonPng, &QToolButton::clicked, this, [this] { SaveAs(true); });
  ButtonCsv = button("ButtonCsv", "CSV…", "Uložit řady zobrazeného úseku do souboru CSV");
  connect(ButtonCsv, &QToolButton::clicked, this, [this] { SaveAs(false); });
  FBar = bar;
  bar->addStretch(1);
  LabelSpan = new QLabel(this);
  LabelSpan->setObjectName("LabelSpan");
  bar->addWidget(LabelSpan);

  FCanvas = new TGraphCanvas(this);
  LabelInfo = new QLabel(this);
  LabelInfo->setObjectName("LabelInfo");
  LabelInfo->setContentsMargins(4, 0, 4, 2);
  LabelInfo->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(2);
  column->addLayout(bar);
  column->addWidget(FCanvas, 1);
  column->addWidget(LabelInfo);
  ViewChanged();
}

TGraphView::~TGraphView() = default;

void TGraphView::AddToolButton(QToolButton* button) {
  button->setParent(this);
  button->setMinimumHeight(23);
  // Before the stretch that keeps the span at the right.
  FBar->insertWidget(FBar->indexOf(ButtonCsv) + 1, button);
}

QWidget* TGraphView::Canvas() const { return FCanvas; }

void TGraphView::MarksChanged() {
  if (isVisible()) FCanvas->update();
}

TTimeAxis TGraphView::Axis() const { return FCanvas->MakeAxis(); }

int64_t TGraphView::DataEndUs() const {
  if (FStore->Empty()) return FloorSecond(NowUs()) * kUsPerSecond;
  return std::max(FStore->EndSecond(), FStore->FirstSecond() + 1) * kUsPerSecond;
}

int64_t TGraphView::ViewEndUs() const { return FFollowing ? DataEndUs() : FStartUs + FSpanUs; }

int64_t TGraphView::ViewStartUs() const { return ViewEndUs() - FSpanUs; }

void TGraphView::SetFollowing(bool on) {
  if (!on && FFollowing) FStartUs = ViewStartUs();  // freezes where it is
  FFollowing = on;
  ViewChanged();
}

void TGraphView::SetView(int64_t startUs, int64_t endUs) {
  FSpanUs = std::clamp(endUs - startUs, kMinSpanUs, kMaxSpanUs);
  FStartUs = startUs;
  FFollowing = false;
  ViewChanged();
}

void TGraphView::Zoom(double factor, int64_t atUs) {
  const int64_t span =
      std::clamp(static_cast<int64_t>(std::llround(static_cast<double>(FSpanUs) * factor)),
                 kMinSpanUs, kMaxSpanUs);
  if (!FFollowing) {
    const int64_t start = ViewStartUs();
    const double keep = static_cast<double>(atUs - start) / static_cast<double>(FSpanUs);
    FStartUs = atUs - static_cast<int64_t>(std::llround(keep * static_cast<double>(span)));
  }
  FSpanUs = span;
  ViewChanged();
}

void TGraphView::Pan(int64_t byUs) {
  if (FFollowing) FStartUs = ViewStartUs();
  FFollowing = false;
  FStartUs += byUs;
  ViewChanged();
}

void TGraphView::SetDevice(int address) {
  FDevice = address >= 1 && address <= TSeriesStore::kDeviceCount ? address : 0;
  ButtonDevice->setEnabled(FDevice != 0);
  ButtonDevice->setText(FDevice ? QString::fromUtf8("Zařízení %1").arg(DeviceText(FDevice))
                                : QString::fromUtf8("Zařízení"));
  ViewChanged();
}

bool TGraphView::DeviceShown() const { return FDevice != 0 && ButtonDevice->isChecked(); }

void TGraphView::SetSelected(int64_t us) {
  FSelectedUs = us;
  ShowInfo();
  FCanvas->update();
}

void TGraphView::ClickAt(double x) {
  const int64_t t = Axis().TimeAt(x);
  SetSelected(t);
  emit MomentClicked(t);
}

void TGraphView::DataChanged() {
  if (!isVisible()) return;
  const int64_t end = FStore->EndSecond();
  if (end == FDrawnEnd) return;
  // The paint notes what it drew; a view placed elsewhere needs none.
  if (FFollowing || (ViewEndUs() > FDrawnEnd * kUsPerSecond && ViewStartUs() < end * kUsPerSecond))
    FCanvas->update();
}

void TGraphView::SetStore(const TSeriesStore& store, bool showAll) {
  FStore = &store;
  // A capture has nothing newer to follow.
  ButtonLive->setVisible(!showAll);
  FSelectedUs = 0;
  if (showAll && !store.Empty()) {
    FDrawnEnd = -1;
    SetView(store.FirstSecond() * kUsPerSecond, DataEndUs());
    return;
  }
  FFollowing = true;
  Reset();
}

void TGraphView::Reset() {
  FDrawnEnd = -1;
  if (!FFollowing && !FStore->Empty()) {
    SetView(FStore->FirstSecond() * kUsPerSecond, DataEndUs());
    return;
  }
  ViewChanged();
}

void TGraphView::ViewChanged() {
  ButtonLive->setChecked(FFollowing);
  LabelSpan->setText(SpanText(FSpanUs));
  ShowInfo();
  FCanvas->update();
}

void TGraphView::ShowInfo() {
  if (FSelectedUs == 0) {
    LabelInfo->setText(QString::fromUtf8("Klepnutím vyberte okamžik; kolečko mění měřítko."));
    return;
  }
  const QLocale locale;
  const int64_t s = FloorSecond(FSelectedUs);
  QString text = QDateTime::fromMSecsSinceEpoch(FSelectedUs / 1000).toString("HH:mm:ss.zzz");
  if (!FStore->Holds(s) || !FStore->At(s).HasData()) {
    LabelInfo->setText(text + QString::fromUtf8("  bez dat"));
    return;
  }
  const TSecondPoint& p = FStore->At(s);
  if (p.HasStatus()) {
    text += QStringLiteral("  Ia %1 A  Im %2 A")
                .arg(locale.toString(p.IaLast / 10.0, 'f', 1), QString::number(p.Im));
    if (p.Im) text += QStringLiteral("  %1 %").arg(locale.toString(p.IaLast * 10.0 / p.Im, 'f', 1));
  }
  text += QStringLiteral("  ") + PowerText(p.PowerOff != kPowerNone ? p.PowerOff : p.Power);
  text += QString::fromUtf8("  %1 B/s  %2 pol./s  nerozp. %3 B/s")
              .arg(locale.toString(p.Bytes), locale.toString(p.Items), locale.toString(p.BadBytes));
  LabelInfo->setText(text);
}

bool TGraphView::ExportPng(const QString& path, QString& error) const {
  const QImage image = FCanvas->grab().toImage();
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    error = file.errorString();
    return false;
  }
  QImageWriter writer(&file, "png");
  if (!writer.write(image) || !file.flush()) {
    error = writer.error() == QImageWriter::DeviceError ? file.errorString() : writer.errorString();
    file.close();
    file.remove();
    return false;
  }
  file.close();
  return true;
}

TCsvFormat RegionalCsvFormat() {
  // The user's spreadsheet reads the numbers as the window shows them.
  return CsvFormatFor(QLocale().decimalPoint() == QStringLiteral(",") ? ',' : '.');
}

bool TGraphView::ExportCsv(const QString& path, QString& error) const {
  const int64_t from = FloorSecond(ViewStartUs());
  const int64_t end = FloorSecond(ViewEndUs() + kUsPerSecond - 1);
  std::string why;
  if (SaveSeriesCsv(*FStore, from, end, DeviceShown() ? FDevice : 0,
                    QFile::encodeName(path).toStdString(), why, RegionalCsvFormat()))
    return true;
  error = QString::fromStdString(why);
  return false;
}

void TGraphView::SaveAs(bool png) {
  const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
  // The folder a graph was saved to last, kept across runs.
  QString folder = QString::fromStdString(MonitorSettings.GraphFolder);
  if (folder.isEmpty() || !QFileInfo(folder).isDir()) folder = QDir::homePath();
  const QString suggested =
      QDir(folder).filePath(QStringLiteral("vantrel-graf-%1.%2").arg(stamp, png ? "png" : "csv"));
  const QString path = QFileDialog::getSaveFileName(
      this, QString::fromUtf8(png ? "Uložit graf jako obrázek" : "Uložit řady grafu"), suggested,
      QString::fromUtf8(png ? "Obrázky PNG (*.png)" : "Soubory CSV (*.csv)"));
  if (path.isEmpty()) return;
  MonitorSettings.GraphFolder = QFileInfo(path).absolutePath().toStdString();
  QString error;
  if (!(png ? ExportPng(path, error) : ExportCsv(path, error)))
    ShowMessageBox(this, ErrorBoxTitle(),
                   QString::fromUtf8("Soubor %1 nelze uložit: %2").arg(path, error),
                   TMsgIcon::Error);
}
