// TEditPemra and TComboBoxPemra: the typed edit and the combo box.
#include "controls/VCtrlPm.h"

#include "controls/DialogKey.h"
#include "controls/MsgBox.h"

#include <QBitmap>
#include <QFocusEvent>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QPainter>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cmath>

QString DataFormatErrorText() { return QStringLiteral(" Chybný formát dat "); }

// --- completion routines -------------------------------------------------

bool IsTypedSeparator(QChar AChar) {
  static const QString set = QStringLiteral("*+,-./:?");
  return set.contains(AChar);
}

int ReplaceSeparator(QString& T, int N, QChar ASep) {
  int found = 0;
  for (qsizetype i = 0; i < T.size(); ++i) {
    if (IsTypedSeparator(T[i]) && ++found == N) {
      T[i] = ASep;
      return int(i) + 1;
    }
  }
  return 0;
}

int FindSeparator(const QString& T, int N, const TFormatSettings& AFormat) {
  int found = 0;
  for (qsizetype i = 0; i < T.size(); ++i)
    if ((T[i] == AFormat.DateSeparator || T[i] == AFormat.TimeSeparator) && ++found == N)
      return int(i) + 1;
  return 0;
}

QString TextAfterSeparator(const QString& T, int N, const TFormatSettings& AFormat) {
  const int p = FindSeparator(T, N, AFormat);
  return p > 0 ? T.mid(p) : QString();
}

bool IsDateTimeText(const QString& T, const TFormatSettings& AFormat) {
  for (QChar c : T)
    if (c != ' ' && !(c >= '0' && c <= '9') && c != AFormat.DateSeparator &&
        c != AFormat.TimeSeparator)
      return false;
  return true;
}

namespace {

// Blanks and control characters off both ends.
QString TrimControls(const QString& AText) {
  qsizetype b = 0, e = AText.size();
  while (b < e && AText[b].unicode() <= ' ') ++b;
  while (e > b && AText[e - 1].unicode() <= ' ') --e;
  return AText.mid(b, e - b);
}

// The completion shared by dates and times: R is the reference as text, ASep
// the separator put in, ACut the length long texts are cut to.
bool Complete(QString& S, const QString& R, QChar ASep, int ACut, const TFormatSettings& F) {
  QString T = TrimControls(S);
  int L = int(T.size());
  if (L == 0) return true;
  if (L > 8) {
    T = T.left(ACut);
    L = int(T.size());
  }
  const int P1 = ReplaceSeparator(T, 1, ASep);
  const int P2 = ReplaceSeparator(T, 2, ASep);
  bool ok = false;
  QString out;
  if (P1 == 0) {
    if (L <= 2) {
      if (IsDateTimeText(T, F)) {
        out = T + ASep + TextAfterSeparator(R, 1, F);
        ok = true;
      }
    } else if (L == 6) {
      out = T.left(2) + ASep + T.mid(2, 2) + ASep + T.mid(4);
      ok = true;
    }
  } else if (P1 == 1) {
    out = R;
    ok = true;
  } else if (P2 == 0) {
    if (L > P1 && IsDateTimeText(T, F)) {
      out = T + ASep + TextAfterSeparator(R, 2, F);
      ok = true;
    } else if (L == P1 && IsDateTimeText(T, F)) {
      out = T + TextAfterSeparator(R, 1, F);
      ok = true;
    }
  } else if (P2 > P1 + 1) {
    if (L > P2 && IsDateTimeText(T, F)) {
      out = T;
      ok = true;
    } else if (L == P2 && IsDateTimeText(T, F)) {
      out = T + TextAfterSeparator(R, 2, F);
      ok = true;
    }
  }
  S = ok ? out : QString();
  return ok;
}

}  // namespace

bool CompleteDate(QString& S, const QDateTime& ARef, const TFormatSettings& AFormat) {
  return Complete(S, ARef.date().toString(AFormat.ShortDateFormat), AFormat.DateSeparator, 10,
                  AFormat);
}

bool CompleteTime(QString& S, const QDateTime& ARef, const TFormatSettings& AFormat) {
  return Complete(S, ARef.time().toString(AFormat.LongTimeFormat), AFormat.TimeSeparator, 8,
                  AFormat);
}

QString MapCzechNumberRow(const QString& AText) {
  // Unshifted number row of a Czech keyboard, keys 1..9, 0.
  static const QString row = QStringLiteral("+ěščřžýáíé");
  static const QString digits = QStringLiteral("1234567890");
  QString out = AText;
  for (QChar& c : out) {
    const qsizetype i = row.indexOf(c);
    if (i >= 0) c = digits[i];
  }
  return out;
}

QString FormatFloatFixed(double AValue, int APrecision, int ADigits,
                         const TFormatSettings& AFormat) {
  // Beyond these the double has no more digits to show.
  const int precision = std::clamp(APrecision, 1, 17);
  const int digits = std::clamp(ADigits, 0, 18);
  const double rounded = QString::number(AValue, 'g', precision).toDouble();
  const QString integerPart = QString::number(std::fabs(rounded), 'f', 0);
  QString s;
  if (integerPart.size() > precision) {
    s = QString::number(rounded, 'E', precision - 1);
  } else {
    // Halves away from zero, as a user rounds by hand (printf rounds
    // them to even).
    const double scale = std::pow(10.0, digits);
    const double scaled = rounded * scale;
    s = std::fabs(scaled) < 4.0e15 ? QString::number(std::round(scaled) / scale, 'f', digits)
                                   : QString::number(rounded, 'f', digits);
    bool allZero = true;
    for (QChar c : s)
      if (c >= '1' && c <= '9') allZero = false;
    if (allZero && s.startsWith('-')) s.remove(0, 1);
  }
  s.replace('.', AFormat.DecimalSeparator);
  return s;
}

// --- TEditPemra ------------------------------------------------------------

namespace {

QPixmap DefaultGlyph() {
  // 12 x 4, white with three black 2 x 2 dots: an ellipsis.
  QImage image(12, 4, QImage::Format_RGB32);
  image.fill(Qt::white);
  for (int x0 : {1, 5, 9})
    for (int x = x0; x < x0 + 2; ++x)
      for (int y = 1; y < 3; ++y) image.setPixelColor(x, y, Qt::black);
  return QPixmap::fromImage(image);
}

}  // namespace

TEditPemra::TEditPemra(QWidget* AOwner) : QLineEdit(AOwner), FButton(new QToolButton(this)) {
  FErrorText = DataFormatErrorText();
  FButton->setCursor(Qt::ArrowCursor);
  FButton->setFocusPolicy(Qt::NoFocus);
  FButton->setAutoRaise(false);
  FButton->hide();
  connect(FButton, &QToolButton::clicked, this, [this] { ButtonClick(); });
  SetGlyph(QPixmap());
  UpdateButton();
}

TEditPemra::~TEditPemra() = default;

void TEditPemra::SetText(const QString& AValue) { setText(ProcessText(AValue)); }

int32_t TEditPemra::AsInteger() {
  int32_t value = 0;
  if (TryStrToInt(text(), value)) return value;
  ShowMessageBox(this, ErrorBoxTitle(), FErrorText, TMsgIcon::Error);
  return 0;
}

void TEditPemra::SetAsInteger(int32_t AValue) { SetText(QString::number(AValue)); }

QString TEditPemra::ProcessText(const QString& AValue) {
  FTextAccepted = true;
  QString v = AValue;
  switch (FEditType) {
    case ttString:
      break;
    case ttInteger:
      v = MapCzechNumberRow(v);
      break;
    case ttFloat:
      if (!v.isEmpty() && FFloatPrecision > 0) {
        double number = 0;
        if (TryStrToFloat(v, number, FormatSettings())) {
          v = FormatFloatFixed(number, FFloatPrecision, FFloatDigits, FormatSettings());
        } else {
          ShowMessageBox(this, ErrorBoxTitle(), FErrorText, TMsgIcon::Error);
          FTextAccepted = false;
        }
      }
      break;
    case ttDate:
      if (v.isEmpty() || v == FBlankDate)
        v = FBlankDate;
      else
        CompleteDate(v, QDateTime(CurrentDate(), QTime(0, 0)), FormatSettings());
      break;
    case ttTime:
      if (v.isEmpty() || v == FBlankTime)
        v = FBlankTime;
      else
        CompleteTime(v, QDateTime(CurrentDate(), QTime(0, 0)), FormatSettings());
      break;
  }
  return v;
}

bool TEditPemra::ButtonVisible() const { return !FButton->isHidden(); }

void TEditPemra::SetButtonVisible(bool AValue) {
  FButton->setVisible(AValue);
  UpdateButton();
  update();
}

void TEditPemra::SetButtonWidth(int AValue) {
  FButtonWidth = std::max(AValue, 15);
  FButtonWidth = std::min(FButtonWidth, width());
  UpdateButton();
  update();
}

void TEditPemra::SetNumGlyphs(int AValue) {
  FNumGlyphs = std::clamp(AValue, 1, 4);
  ApplyGlyph();
}

void TEditPemra::SetGlyph(const QPixmap& AValue) {
  if (AValue.isNull()) {
    FGlyph = DefaultGlyph();
    FNumGlyphs = 1;
  } else {
    FGlyph = AValue;
  }
  ApplyGlyph();
}

void TEditPemra::ApplyGlyph() {
  // NumGlyphs images side by side: up, disabled, ...; the bottom-left
  // pixel's colour is transparent.
  const int n = std::max(FNumGlyphs, 1);
  const int w = FGlyph.width() / n;
  QIcon icon;
  if (w > 0 && FGlyph.height() > 0) {
    QImage image = FGlyph.toImage().convertToFormat(QImage::Format_ARGB32);
    const QRgb transparent = image.pixel(0, image.height() - 1);
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        if (image.pixel(x, y) == transparent) image.setPixel(x, y, qRgba(0, 0, 0, 0));
    icon.addPixmap(QPixmap::fromImage(image.copy(0, 0, w, image.height())), QIcon::Normal);
    if (n >= 2)
      icon.addPixmap(QPixmap::fromImage(image.copy(w, 0, w, image.height())), QIcon::Disabled);
    FButton->setIconSize(QSize(w, image.height()));
  }
  FButton->setIcon(icon);
  FButton->update();
}

void TEditPemra::UpdateButton() {
  const int bw = ButtonVisible() ? FButtonWidth : 0;
  const int W = width(), H = height();
  if (hasFrame())
    FButton->setGeometry(W - bw - 2, 2, bw, std::max(H - 4, 0));
  else
    FButton->setGeometry(W - bw, 0, bw, H);
  // The text never runs under the button.
  setTextMargins(0, 0, bw, 0);
}

void TEditPemra::SetFloatPrecision(int AValue) { FFloatPrecision = std::clamp(AValue, 0, 255); }

void TEditPemra::SetFloatDigits(int AValue) { FFloatDigits = std::clamp(AValue, 0, 255); }

void TEditPemra::SetBlankDate(const QString& AValue) {
  const bool showsBlank = FEditType == ttDate && (text().isEmpty() || text() == FBlankDate);
  FBlankDate = AValue;
  if (showsBlank) SetText(AValue);
}

void TEditPemra::SetBlankTime(const QString& AValue) {
  const bool showsBlank = FEditType == ttTime && (text().isEmpty() || text() == FBlankTime);
  FBlankTime = AValue;
  if (showsBlank) SetText(AValue);
}

void TEditPemra::SetAlignment(TAlignment AValue) {
  if (AValue == FAlignment) return;
  FAlignment = AValue;
  ApplyAlignment();
}

void TEditPemra::ApplyAlignment() {
  // Right or centred only while not focused: typing is always left-aligned.
  Qt::Alignment a = Qt::AlignLeft;
  if (!hasFocus() && FAlignment == taRightJustify)
    a = Qt::AlignRight;
  else if (!hasFocus() && FAlignment == taCenter)
    a = Qt::AlignHCenter;
  setAlignment(a | Qt::AlignVCenter);
  update();
}

void TEditPemra::ButtonClick() {
  if (OnClickButton) OnClickButton(this);
}

void TEditPemra::MoveFocus(bool ABackwards) { focusNextPrevChild(!ABackwards); }

bool TEditPemra::event(QEvent* AEvent) {
  if (AEvent->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(AEvent);
    if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
      // The form moves the focus; remember that a Tab did it.
      FTabPressed = true;
      FLastShift = key->modifiers();
    }
  }
  return QLineEdit::event(AEvent);
}

void TEditPemra::keyPressEvent(QKeyEvent* AEvent) {
  const int key = AEvent->key();
  FLastShift = AEvent->modifiers();
  const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;

  if (enter && FEnterIsTab) {
    FTabPressed = true;
    AEvent->accept();
    MoveFocus(FLastShift & Qt::ShiftModifier);
    return;
  }
  if (key == Qt::Key_Space && OnClickSpace) {
    OnClickSpace(this);
    AEvent->accept();  // the blank is not typed
    return;
  }
  if (enter || key == Qt::Key_Escape) {
    // Offered to the form (default button, dialog cancel); a line break
    // never enters the text.
    AEvent->accept();
    const bool used = SendDialogKey(this, enter ? Qt::Key_Return : Qt::Key_Escape);
    QChar ch = enter ? QChar('\r') : QChar(27);
    if (OnKeyPress) OnKeyPress(this, ch);
    if (!enter && !used) AEvent->ignore();  // a form without a cancel action may still want it
    return;
  }

  const QString text = AEvent->text();
  if (text.size() == 1 && text[0].isPrint()) {
    QChar ch = text[0];
    if (FConvertDecimalSymbol && ch == ',' &&
        (FEditType == ttFloat || FEditType == ttDate || FEditType == ttTime))
      ch = '.';
    if (OnKeyPress) OnKeyPress(this, ch);
    if (ch.isNull()) {
      AEvent->accept();
      return;
    }
    if (ch != text[0]) {
      QKeyEvent changed(QEvent::KeyPress, ch == '.' ? int(Qt::Key_Period) : key,
                        AEvent->modifiers(), QString(ch), AEvent->isAutoRepeat(),
                        ushort(AEvent->count()));
      QLineEdit::keyPressEvent(&changed);
      AEvent->setAccepted(changed.isAccepted());
      return;
    }
  }
  QLineEdit::keyPressEvent(AEvent);
}

void TEditPemra::focusInEvent(QFocusEvent* AEvent) {
  QLineEdit::focusInEvent(AEvent);
  ApplyAlignment();
  selectAll();
}

void TEditPemra::focusOutEvent(QFocusEvent* AEvent) {
  // Only a move to another control is an exit: not a switch to another
  // window, a popup, or the error box of the exit itself.
  const Qt::FocusReason reason = AEvent->reason();
  if (FInExit || reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) {
    QLineEdit::focusOutEvent(AEvent);
    return;
  }
  FInExit = true;
  const QString processed = ProcessText(text());
  if (FTextAccepted) {
    if (processed != text()) setText(processed);
    QLineEdit::focusOutEvent(AEvent);
    ApplyAlignment();
    if (OnExit) OnExit(this);
    if (FTabPressed && OnTabExit) OnTabExit(this, FLastShift);
    FTabPressed = false;
  } else {
    // A float that does not convert: the user stays in the edit.
    QLineEdit::focusOutEvent(AEvent);
    QTimer::singleShot(0, this, [this] {
      if (isEnabled() && isVisible() && focusPolicy() != Qt::NoFocus)
        setFocus(Qt::OtherFocusReason);
    });
  }
  FInExit = false;
}

void TEditPemra::resizeEvent(QResizeEvent* AEvent) {
  QLineEdit::resizeEvent(AEvent);
  UpdateButton();
}

// --- TComboBoxPemra ----------------------------------------------------------

TComboBoxPemra::TComboBoxPemra(QWidget* AOwner) : QComboBox(AOwner) {}

bool TComboBoxPemra::event(QEvent* AEvent) {
  if (AEvent->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(AEvent);
    if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
      FTabPressed = true;
      FLastShift = key->modifiers();
    }
  }
  return QComboBox::event(AEvent);
}

void TComboBoxPemra::keyPressEvent(QKeyEvent* AEvent) {
  const int key = AEvent->key();
  FLastShift = AEvent->modifiers();
  if ((key == Qt::Key_Return || key == Qt::Key_Enter) && FEnterIsTab) {
    FTabPressed = true;
    AEvent->accept();
    focusNextPrevChild(!(FLastShift & Qt::ShiftModifier));
    return;
  }
  if (key == Qt::Key_Space && OnClickSpace) {
    OnClickSpace(this);
    AEvent->accept();
    return;
  }
  QComboBox::keyPressEvent(AEvent);
}

void TComboBoxPemra::focusOutEvent(QFocusEvent* AEvent) {
  QComboBox::focusOutEvent(AEvent);
  const Qt::FocusReason reason = AEvent->reason();
  if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) return;
  if (OnExit) OnExit(this);
  if (FTabPressed && OnTabExit) OnTabExit(this, FLastShift);
  FTabPressed = false;
}
