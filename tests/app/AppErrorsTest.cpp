// The application's error handler: an exception escaping an event handler is
// reported, the handler is abandoned there, and the program goes on.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <stdexcept>

#include "app/AppErrors.h"
#include "controls/MsgBox.h"

namespace {

TEST(AppErrors, EscapingExceptionIsReportedAndTheProgramGoesOn) {
  QStringList reported;
  auto old = SetErrorReporter([&](const QString& m) { reported << m; });

  QPushButton button;
  int before = 0, after = 0, clicks = 0;
  QObject::connect(&button, &QPushButton::clicked, [&] {
    ++before;
    if (++clicks == 1) throw std::runtime_error("Unable to write to /ro/vVantrelBus.ini");
    ++after;
  });
  button.show();
  QTest::mouseClick(&button, Qt::LeftButton);
  ASSERT_EQ(reported, QStringList({"Unable to write to /ro/vVantrelBus.ini"}));
  EXPECT_EQ(before, 1);
  EXPECT_EQ(after, 0);  // abandoned at the throw

  // The same handler works again, and other events are still delivered.
  QTest::mouseClick(&button, Qt::LeftButton);
  EXPECT_EQ(after, 1);
  bool timerRan = false;
  QTimer::singleShot(0, [&] { timerRan = true; });
  EXPECT_TRUE(QTest::qWaitFor([&] { return timerRan; }, 1000));

  // An exception from a queued call (how the window drains) is caught too.
  QTimer::singleShot(0, [] { throw std::out_of_range("index 32 out of range"); });
  EXPECT_TRUE(QTest::qWaitFor([&] { return reported.size() == 2; }, 1000));
  EXPECT_EQ(reported.value(1), "index 32 out of range");
  SetErrorReporter(old);
}

TEST(AppErrors, DefaultReporterShowsTheMessageInABox) {
  QStringList boxes;
  auto old = SetMessageBoxHandler(
      [&](QWidget*, const QString&, const QString& text, TMsgIcon, TMsgButtons) {
        boxes << text;
        return TMsgResult::Ok;
      });
  QTimer::singleShot(0, [] { throw std::runtime_error("Unable to write to x.ini"); });
  EXPECT_TRUE(QTest::qWaitFor([&] { return !boxes.isEmpty(); }, 2000));
  EXPECT_EQ(boxes.value(0), "Unable to write to x.ini");
  SetMessageBoxHandler(old);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  TVantrelApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
