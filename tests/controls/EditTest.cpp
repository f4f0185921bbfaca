#include "ControlsTestUtil.h"
#include "controls/VCtrlPm.h"

#include <QDialog>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// A form with two typed edits, a combo box and a default button.
struct TForm {
  QDialog Window;
  TEditPemra* Edit1;
  TEditPemra* Edit2;
  TComboBoxPemra* Combo;
  QPushButton* Default;
  int DefaultClicks = 0;

  TForm() {
    auto* layout = new QVBoxLayout(&Window);
    Edit1 = new TEditPemra(&Window);
    Edit2 = new TEditPemra(&Window);
    Combo = new TComboBoxPemra(&Window);
    Combo->setEditable(true);
    Default = new QPushButton("OK", &Window);
    Default->setDefault(true);
    QObject::connect(Default, &QPushButton::clicked, [this] { ++DefaultClicks; });
    layout->addWidget(Edit1);
    layout->addWidget(Edit2);
    layout->addWidget(Combo);
    layout->addWidget(Default);
    Window.resize(240, 160);
  }
};

}  // namespace

class ControlsEdit : public ControlsFixture {};

TEST_F(ControlsEdit, IntegerEditMapsTheCzechNumberRow) {
  TForm form;
  Activate(form.Window);
  form.Edit1->SetEditType(ttInteger);
  form.Edit1->setFocus();
  TypeText(form.Edit1, QString::fromUtf8("ěšč"));
  EXPECT_EQ(form.Edit1->Text(), QString::fromUtf8("ěšč"));  // while typing, as typed
  QTest::keyClick(form.Edit1, Qt::Key_Tab);
  EXPECT_TRUE(form.Edit2->hasFocus());
  EXPECT_EQ(form.Edit1->Text(), "234");
  EXPECT_EQ(form.Edit1->AsInteger(), 234);

  form.Edit1->SetText(QString::fromUtf8("+ěščřžýáíé"));
  EXPECT_EQ(form.Edit1->Text(), "1234567890");
  form.Edit1->SetText("12a");
  EXPECT_EQ(form.Edit1->Text(), "12a");  // no validity test
  EXPECT_TRUE(Boxes.empty());
  EXPECT_EQ(form.Edit1->AsInteger(), 0);
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Text, QString::fromUtf8(" Chybný formát dat "));
  EXPECT_EQ(Boxes[0].Icon, TMsgIcon::Error);
}

TEST_F(ControlsEdit, AsIntegerOnAStringEdit) {
  TEditPemra edit;
  edit.SetAsInteger(-19200);
  EXPECT_EQ(edit.Text(), "-19200");
  EXPECT_EQ(edit.AsInteger(), -19200);
  edit.SetText(QString::fromUtf8("ěšč"));  // ttString: no mapping
  EXPECT_EQ(edit.Text(), QString::fromUtf8("ěšč"));
  EXPECT_EQ(edit.AsInteger(), 0);
  EXPECT_EQ(Boxes.size(), 1u);
}

TEST_F(ControlsEdit, FloatFormattingAndRejection) {
  TForm form;
  Activate(form.Window);
  TEditPemra* edit = form.Edit1;
  edit->SetEditType(ttFloat);
  edit->SetFloatPrecision(15);
  edit->SetFloatDigits(2);
  edit->SetText("3,14159");
  EXPECT_EQ(edit->Text(), "3,14");
  EXPECT_TRUE(edit->TextAccepted());

  int exits = 0, tabExits = 0;
  edit->OnExit = [&](TEditPemra*) { ++exits; };
  edit->OnTabExit = [&](TEditPemra*, Qt::KeyboardModifiers) { ++tabExits; };
  edit->setFocus();
  edit->selectAll();
  QTest::keyClicks(edit, "abc");
  QTest::keyClick(edit, Qt::Key_Tab);
  QApplication::processEvents();
  EXPECT_EQ(edit->Text(), "abc");
  EXPECT_FALSE(edit->TextAccepted());
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Text, QString::fromUtf8(" Chybný formát dat "));
  EXPECT_TRUE(edit->hasFocus());  // the user stays in the edit
  EXPECT_EQ(exits, 0);
  EXPECT_EQ(tabExits, 0);
  EXPECT_TRUE(edit->TabPressed());  // still counts at the next exit

  // Corrected: the next exit is accepted and reports the Tab from before.
  edit->selectAll();
  QTest::keyClicks(edit, "2,5");
  form.Edit2->setFocus();
  QApplication::processEvents();
  EXPECT_EQ(edit->Text(), "2,50");
  EXPECT_EQ(exits, 1);
  EXPECT_EQ(tabExits, 1);
  EXPECT_FALSE(edit->TabPressed());

  // Without precision the text is left alone.
  edit->SetFloatPrecision(0);
  edit->SetText("abc");
  EXPECT_EQ(edit->Text(), "abc");
  EXPECT_EQ(Boxes.size(), 1u);
}

TEST_F(ControlsEdit, ConvertDecimalSymbolTurnsCommaIntoFullStop) {
  TForm form;
  Activate(form.Window);
  TEditPemra* edit = form.Edit1;
  edit->SetEditType(ttFloat);
  edit->SetFloatPrecision(15);
  edit->SetFloatDigits(2);
  edit->SetConvertDecimalSymbol(true);
  edit->setFocus();
  QTest::keyClicks(edit, "1,5");
  EXPECT_EQ(edit->Text(), "1.5");
  form.Edit2->setFocus();
  QApplication::processEvents();
  EXPECT_EQ(Boxes.size(), 1u);  // a full stop does not convert with a decimal comma
  EXPECT_TRUE(edit->hasFocus());

  // A string edit keeps its commas.
  form.Edit2->SetConvertDecimalSymbol(true);
  form.Edit2->setFocus();
  QTest::keyClicks(form.Edit2, "1,5");
  EXPECT_EQ(form.Edit2->Text(), "1,5");
}

TEST_F(ControlsEdit, BlankDateAndTime) {
  TEditPemra edit;
  edit.SetEditType(ttDate);
  edit.SetBlankDate("--.--.----");
  EXPECT_EQ(edit.Text(), "--.--.----");  // it showed nothing, so it shows the blank
  edit.SetText("");
  EXPECT_EQ(edit.Text(), "--.--.----");
  edit.SetText("--.--.----");
  EXPECT_EQ(edit.Text(), "--.--.----");
  edit.SetBlankDate("  .  .    ");
  EXPECT_EQ(edit.Text(), "  .  .    ");  // showing the old blank: replaced
  edit.SetText("5");
  EXPECT_EQ(edit.Text(), "5.12.2026");
  edit.SetBlankDate("(none)");
  EXPECT_EQ(edit.Text(), "5.12.2026");  // showing a date: only stored
  EXPECT_EQ(edit.BlankDate(), "(none)");
  edit.SetText("ab");
  EXPECT_EQ(edit.Text(), "");  // failed completion; the next write shows the blank
  edit.SetText(edit.Text());
  EXPECT_EQ(edit.Text(), "(none)");

  TEditPemra time;
  time.SetEditType(ttTime);
  time.SetBlankTime("--:--");
  EXPECT_EQ(time.Text(), "--:--");
  time.SetText("12");
  EXPECT_EQ(time.Text(), "12:00:00");
  time.SetBlankTime("xx");
  EXPECT_EQ(time.Text(), "12:00:00");
}

TEST_F(ControlsEdit, TypedTimeIsCompletedOnExit) {
  TForm form;
  Activate(form.Window);
  form.Edit1->SetEditType(ttTime);
  form.Edit1->setFocus();
  QTest::keyClicks(form.Edit1, "123456");
  QTest::keyClick(form.Edit1, Qt::Key_Tab);
  EXPECT_EQ(form.Edit1->Text(), "12:34:56");
  form.Edit2->SetEditType(ttDate);
  form.Edit2->setFocus();
  QTest::keyClicks(form.Edit2, "5");
  form.Edit1->setFocus();
  EXPECT_EQ(form.Edit2->Text(), "5.12.2026");
}

TEST_F(ControlsEdit, EnterActsAsTabAndFiresTabExit) {
  TForm form;
  Activate(form.Window);
  std::vector<Qt::KeyboardModifiers> tabExits;
  form.Edit1->OnTabExit = [&](TEditPemra* ASender, Qt::KeyboardModifiers AShift) {
    EXPECT_EQ(ASender, form.Edit1);
    tabExits.push_back(AShift);
  };
  form.Edit1->setFocus();
  EXPECT_EQ(form.Edit1->selectedText(), form.Edit1->text());
  QTest::keyClick(form.Edit1, Qt::Key_Return);
  EXPECT_TRUE(form.Edit2->hasFocus());
  ASSERT_EQ(tabExits.size(), 1u);
  EXPECT_EQ(form.DefaultClicks, 0);

  // Shift+Enter goes backwards.
  form.Edit2->OnTabExit = [&](TEditPemra*, Qt::KeyboardModifiers AShift) {
    tabExits.push_back(AShift);
  };
  QTest::keyClick(form.Edit2, Qt::Key_Return, Qt::ShiftModifier);
  EXPECT_TRUE(form.Edit1->hasFocus());
  ASSERT_EQ(tabExits.size(), 2u);
  EXPECT_TRUE(tabExits[1] & Qt::ShiftModifier);

  // A focus change by the mouse or program is an exit without Tab.
  form.Edit2->setFocus();
  EXPECT_EQ(tabExits.size(), 2u);
}

TEST_F(ControlsEdit, EnterWithoutEnterIsTabGoesToTheDefaultButton) {
  TForm form;
  Activate(form.Window);
  form.Edit1->SetEnterIsTab(false);
  std::vector<QChar> pressed;
  form.Edit1->OnKeyPress = [&](TEditPemra*, QChar& AKey) { pressed.push_back(AKey); };
  form.Edit1->setFocus();
  QTest::keyClicks(form.Edit1, "ab");
  QTest::keyClick(form.Edit1, Qt::Key_Return);
  EXPECT_EQ(form.DefaultClicks, 1);
  EXPECT_TRUE(form.Edit1->hasFocus());
  EXPECT_EQ(form.Edit1->Text(), "ab");
  ASSERT_EQ(pressed.size(), 3u);
  EXPECT_EQ(pressed[2], QChar('\r'));
}

TEST_F(ControlsEdit, SpaceHandling) {
  TForm form;
  Activate(form.Window);
  int spaces = 0;
  form.Edit1->setFocus();
  QTest::keyClicks(form.Edit1, "a b");
  EXPECT_EQ(form.Edit1->Text(), "a b");
  form.Edit1->OnClickSpace = [&](TEditPemra*) { ++spaces; };
  QTest::keyClick(form.Edit1, Qt::Key_Space, Qt::NoModifier);
  EXPECT_EQ(spaces, 1);
  EXPECT_EQ(form.Edit1->Text(), "a b");

  int comboSpaces = 0;
  form.Combo->setFocus();
  QTest::keyClicks(form.Combo, "x y");
  EXPECT_EQ(form.Combo->currentText(), "x y");
  form.Combo->OnClickSpace = [&](TComboBoxPemra*) { ++comboSpaces; };
  QTest::keyClick(form.Combo, Qt::Key_Space);
  EXPECT_EQ(comboSpaces, 1);
  EXPECT_EQ(form.Combo->currentText(), "x y");
}

TEST_F(ControlsEdit, ComboEnterActsAsTab) {
  TForm form;
  Activate(form.Window);
  int tabExits = 0, exits = 0;
  form.Combo->OnTabExit = [&](TComboBoxPemra*, Qt::KeyboardModifiers) { ++tabExits; };
  form.Combo->OnExit = [&](TComboBoxPemra*) { ++exits; };
  form.Combo->setFocus();
  QTest::keyClick(form.Combo, Qt::Key_Return);
  EXPECT_TRUE(form.Default->hasFocus());
  EXPECT_EQ(tabExits, 1);
  EXPECT_EQ(form.DefaultClicks, 0);
  form.Combo->setFocus();
  form.Edit1->setFocus();
  EXPECT_EQ(exits, 2);
  EXPECT_EQ(tabExits, 1);
}

TEST_F(ControlsEdit, ButtonWidthAndPlacement) {
  TForm form;
  Activate(form.Window);
  TEditPemra* edit = form.Edit1;
  EXPECT_FALSE(edit->ButtonVisible());
  EXPECT_EQ(edit->ButtonWidth(), 15);
  EXPECT_EQ(edit->textMargins().right(), 0);
  edit->SetButtonVisible(true);
  edit->SetButtonWidth(10);
  EXPECT_EQ(edit->ButtonWidth(), 15);
  EXPECT_EQ(edit->Button()->width(), 15);
  EXPECT_EQ(edit->textMargins().right(), 15);
  EXPECT_LE(edit->Button()->geometry().right(), edit->width() - 1);
  edit->SetButtonWidth(edit->width() + 50);
  EXPECT_EQ(edit->ButtonWidth(), edit->width());
  edit->SetButtonWidth(20);
  int clicks = 0;
  edit->OnClickButton = [&](TEditPemra* ASender) {
    EXPECT_EQ(ASender, edit);
    ++clicks;
  };
  QTest::mouseClick(edit->Button(), Qt::LeftButton);
  EXPECT_EQ(clicks, 1);
  edit->SetButtonVisible(false);
  EXPECT_EQ(edit->textMargins().right(), 0);

  // The default glyph: an ellipsis, one image; a null glyph restores it.
  EXPECT_EQ(edit->Glyph().size(), QSize(12, 4));
  EXPECT_EQ(edit->NumGlyphs(), 1);
  QPixmap two(24, 8);
  two.fill(Qt::red);
  edit->SetNumGlyphs(2);
  edit->SetGlyph(two);
  EXPECT_EQ(edit->NumGlyphs(), 2);
  EXPECT_EQ(edit->Button()->iconSize(), QSize(12, 8));
  edit->SetGlyph(QPixmap());
  EXPECT_EQ(edit->NumGlyphs(), 1);
  EXPECT_EQ(edit->Glyph().size(), QSize(12, 4));
}

TEST_F(ControlsEdit, AlignmentOnlyWhileUnfocused) {
  TForm form;
  Activate(form.Window);
  form.Edit2->setFocus();
  form.Edit1->SetAlignment(taRightJustify);
  EXPECT_TRUE(form.Edit1->alignment() & Qt::AlignRight);
  form.Edit1->setFocus();
  EXPECT_TRUE(form.Edit1->alignment() & Qt::AlignLeft);
  form.Edit2->setFocus();
  EXPECT_TRUE(form.Edit1->alignment() & Qt::AlignRight);
  form.Edit1->SetAlignment(taCenter);
  EXPECT_TRUE(form.Edit1->alignment() & Qt::AlignHCenter);
}
