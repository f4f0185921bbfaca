// TEditPemra: a one-line edit with an optional button at its right end and a
// typed mode that checks, completes and reformats the text whenever the text
// is assigned (SetText) and whenever the focus leaves the edit.
// TComboBoxPemra: a combo box with the same Enter-as-Tab, Tab-exit and Space
// behaviour.  Also the date and time completion routines the edit uses.
//
// Write the text through SetText (or AsInteger), not QLineEdit::setText: only
// SetText runs the text processing.
#pragma once

#include "controls/Convert.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPixmap>
#include <cstdint>
#include <functional>

class QToolButton;

enum TEditType { ttString = 0, ttInteger = 1, ttFloat = 2, ttDate = 3, ttTime = 4 };

// --- completion routines (positions are 1-based, 0 = not found) ---------

// Characters a user may type as a date or time separator.
bool IsTypedSeparator(QChar AChar);
// Replaces the N-th typed separator of T by ASep and returns its position.
int ReplaceSeparator(QString& T, int N, QChar ASep);
// Position of the N-th date or time separator of T.
int FindSeparator(const QString& T, int N, const TFormatSettings& AFormat);
// The part of T behind its N-th date or time separator; empty if none.
QString TextAfterSeparator(const QString& T, int N, const TFormatSettings& AFormat);
// Every character a blank, a digit or a date or time separator.
bool IsDateTimeText(const QString& T, const TFormatSettings& AFormat);
// Complete a typed date (time) from the reference; on failure S becomes
// empty and the result is false.
bool CompleteDate(QString& S, const QDateTime& ARef, const TFormatSettings& AFormat);
bool CompleteTime(QString& S, const QDateTime& ARef, const TFormatSettings& AFormat);

// The digit keys of the unshifted Czech number row ("+ěščřžýáíé") read as
// the digits 1-9, 0.
QString MapCzechNumberRow(const QString& AText);

// Fixed-point text of AValue rounded to APrecision significant digits, with
// ADigits decimals; the scientific form when the integer part needs more
// than APrecision digits.
QString FormatFloatFixed(double AValue, int APrecision, int ADigits,
                         const TFormatSettings& AFormat);

class TEditPemra : public QLineEdit {
  Q_OBJECT
public:
  explicit TEditPemra(QWidget* AOwner = nullptr);
  ~TEditPemra() override;

  QString Text() const { return text(); }
  void SetText(const QString& AValue);  // with the text processing
  int32_t AsInteger();                  // error box and 0 if not an integer
  void SetAsInteger(int32_t AValue);

  bool ButtonVisible() const;
  void SetButtonVisible(bool AValue);
  int ButtonWidth() const { return FButtonWidth; }
  void SetButtonWidth(int AValue);  // 15 .. width()
  int NumGlyphs() const { return FNumGlyphs; }
  void SetNumGlyphs(int AValue);
  QPixmap Glyph() const { return FGlyph; }
  void SetGlyph(const QPixmap& AValue);  // a null pixmap loads the default
  QToolButton* Button() const { return FButton; }

  TEditType EditType() const { return FEditType; }
  void SetEditType(TEditType AValue) { FEditType = AValue; }
  int FloatPrecision() const { return FFloatPrecision; }
  void SetFloatPrecision(int AValue);  // 0..255
  int FloatDigits() const { return FFloatDigits; }
  void SetFloatDigits(int AValue);  // 0..255
  QString BlankDate() const { return FBlankDate; }
  void SetBlankDate(const QString& AValue);
  QString BlankTime() const { return FBlankTime; }
  void SetBlankTime(const QString& AValue);
  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment AValue);
  bool ConvertDecimalSymbol() const { return FConvertDecimalSymbol; }
  void SetConvertDecimalSymbol(bool AValue) { FConvertDecimalSymbol = AValue; }
  bool EnterIsTab() const { return FEnterIsTab; }
  void SetEnterIsTab(bool AValue) { FEnterIsTab = AValue; }
  QString ErrorText() const { return FErrorText; }
  bool TabPressed() const { return FTabPressed; }
  Qt::KeyboardModifiers LastShift() const { return FLastShift; }
  // Result of the last text processing (false only after a float that
  // did not convert).
  bool TextAccepted() const { return FTextAccepted; }

  // Places the button and keeps the text clear of it.
  void UpdateButton();

  std::function<void(TEditPemra* Sender, Qt::KeyboardModifiers ShiftState)> OnTabExit;
  std::function<void(TEditPemra* Sender)> OnClickButton;
  std::function<void(TEditPemra* Sender)> OnClickSpace;
  std::function<void(TEditPemra* Sender)> OnExit;  // accepted exits only
  std::function<void(TEditPemra* Sender, QChar& Key)> OnKeyPress;

protected:
  // Returns the processed text; sets FTextAccepted (shows the error box
  // for a float that does not convert).
  QString ProcessText(const QString& AValue);
  virtual void ButtonClick();

  bool event(QEvent* AEvent) override;
  void keyPressEvent(QKeyEvent* AEvent) override;
  void focusInEvent(QFocusEvent* AEvent) override;
  void focusOutEvent(QFocusEvent* AEvent) override;
  void resizeEvent(QResizeEvent* AEvent) override;

private:
  void ApplyGlyph();
  void ApplyAlignment();
  void MoveFocus(bool ABackwards);

  QToolButton* FButton;
  int FButtonWidth = 15;
  int FNumGlyphs = 1;
  QPixmap FGlyph;
  TEditType FEditType = ttString;
  int FFloatPrecision = 0;
  int FFloatDigits = 0;
  QString FBlankDate;
  QString FBlankTime;
  TAlignment FAlignment = taLeftJustify;
  bool FConvertDecimalSymbol = false;
  bool FEnterIsTab = true;
  QString FErrorText;
  bool FTabPressed = false;
  Qt::KeyboardModifiers FLastShift;
  bool FTextAccepted = true;
  bool FInExit = false;
};

class TComboBoxPemra : public QComboBox {
  Q_OBJECT
public:
  explicit TComboBoxPemra(QWidget* AOwner = nullptr);

  bool EnterIsTab() const { return FEnterIsTab; }
  void SetEnterIsTab(bool AValue) { FEnterIsTab = AValue; }

  std::function<void(TComboBoxPemra* Sender)> OnClickSpace;
  std::function<void(TComboBoxPemra* Sender, Qt::KeyboardModifiers ShiftState)> OnTabExit;
  std::function<void(TComboBoxPemra* Sender)> OnExit;

protected:
  bool event(QEvent* AEvent) override;
  void keyPressEvent(QKeyEvent* AEvent) override;
  void focusOutEvent(QFocusEvent* AEvent) override;

private:
  bool FEnterIsTab = true;
  bool FTabPressed = false;
  Qt::KeyboardModifiers FLastShift;
};

// The " Chybný formát dat " message of the typed edit.
QString DataFormatErrorText();
