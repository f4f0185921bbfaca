// Qt's own dialogs and menus speak Czech like the window: no English word in
// the file dialogs, message boxes, the text boxes' context menu and the
// window's own menus (the configuration dialog's English captions are the
// program's own and stay).
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include "app/QtCzech.h"
#include "app/TrafficView.h"
#include "app/uVantrelBus.h"
#include "support/Child.h"
#include "support/WindowTest.h"

namespace {

// Words Qt's untranslated dialogs and menus show.
const QRegularExpression kEnglish(
    "\\b(Folder|File|Files|Cancel|Open|Save|Name|Size|Type|Kind|Date Modified|Look in|Back|"
    "Forward|Parent Directory|Create New Folder|New Folder|List View|Detail View|Computer|Close|"
    "Undo|Redo|Cut|Copy|Paste|Delete|Select All|Yes|No|Drive|Unknown|Show hidden files|Rename)\\b");

void Add(QStringList& texts, const QString& text) {
  if (!text.isEmpty()) texts << text;
}

// Every text a user sees in root: captions, tool tips, items, headers, menus.
QStringList Texts(const QWidget* root) {
  QStringList texts;
  Add(texts, root->windowTitle());
  for (const QWidget* w : root->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(root) && !qobject_cast<const QMenu*>(w)) continue;
    Add(texts, w->toolTip());
    if (const auto* l = qobject_cast<const QLabel*>(w)) Add(texts, l->text());
    if (const auto* b = qobject_cast<const QAbstractButton*>(w)) Add(texts, b->text());
    if (const auto* e = qobject_cast<const QLineEdit*>(w)) Add(texts, e->placeholderText());
    if (const auto* c = qobject_cast<const QComboBox*>(w))
      for (int i = 0; i < c->count(); ++i) Add(texts, c->itemText(i));
    if (const auto* v = qobject_cast<const QAbstractItemView*>(w); v && v->model()) {
      const QAbstractItemModel* m = v->model();
      for (int c = 0; c < m->columnCount(v->rootIndex()); ++c)
        Add(texts, m->headerData(c, Qt::Horizontal).toString());
      for (int r = 0; r < m->rowCount(v->rootIndex()); ++r)
        for (int c = 0; c < m->columnCount(v->rootIndex()); ++c)
          Add(texts, m->index(r, c, v->rootIndex()).data().toString());
    }
  }
  for (const QMenu* menu : root->findChildren<QMenu*>())
    for (const QAction* a : menu->actions()) Add(texts, a->text());
  return texts;
}

QStringList English(const QStringList& texts) {
  QStringList found;
  for (const QString& t : texts)
    if (kEnglish.match(t).hasMatch()) found << t;
  return found;
}

class CzechTexts : public TWindowTest {
protected:
  void SetUp() override {
    TWindowTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(InstallCzechQtTexts(*qApp)) << "qtbase_cs.qm: install Qt's translations";
    Window = new TFormVantrelBus;
    Window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Window));
  }
};

}  // namespace

TEST_F(CzechTexts, TheFileDialogsSpeakCzech) {
  QTemporaryDir files;
  ASSERT_TRUE(QDir(files.path()).mkdir("zaznamy"));
  QFile file(QDir(files.path()).filePath("provoz.vlog"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  for (QFileDialog::AcceptMode mode : {QFileDialog::AcceptOpen, QFileDialog::AcceptSave}) {
    SCOPED_TRACE(mode);
    QFileDialog dialog(Window, QString::fromUtf8("Otevřít záznam"), files.path(),
                       QString::fromUtf8("Záznamy sběrnice (*.vlog);;Všechny soubory (*)"));
    dialog.setAcceptMode(mode);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setViewMode(QFileDialog::Detail);
    dialog.open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    // The folder's entries come from a thread of the dialog's model.
    ASSERT_TRUE(QTest::qWaitFor([&] {
      return Texts(&dialog).contains("zaznamy") && Texts(&dialog).contains("provoz.vlog");
    }));
    QTest::qWait(100);  // their kinds and dates follow
    EXPECT_EQ(English(Texts(&dialog)), QStringList());
    dialog.close();
  }
}

TEST_F(CzechTexts, MessageBoxesAndTheTextBoxesMenuSpeakCzech) {
  QMessageBox box(QMessageBox::Question, "vVantrelBus", QString::fromUtf8("Uložit?"),
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel | QMessageBox::Close,
                  Window);
  box.open();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
  EXPECT_EQ(English(Texts(&box)), QStringList());
  box.close();

  auto* filter = Child<QLineEdit>(Window, "EditFilter");
  filter->setText("abc");
  std::unique_ptr<QMenu> menu(filter->createStandardContextMenu());
  QStringList items;
  for (const QAction* a : menu->actions()) Add(items, a->text());
  EXPECT_FALSE(items.isEmpty());
  EXPECT_EQ(English(items), QStringList());
}

TEST_F(CzechTexts, TheWindowsOwnMenusSpeakCzech) {
  auto* view = Child<TTrafficView>(Window, "TrafficView");
  EXPECT_EQ(English(Texts(view)), QStringList());
  EXPECT_EQ(English(Texts(Window)), QStringList());
}
