// Entry point of the GUI test programs: one QApplication for all tests.
#include <gtest/gtest.h>
#include <QApplication>
#include <QDir>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen")
                                                                  : qgetenv("QT_QPA_PLATFORM"));
  // The window keeps its sessions in the cache folder: the tests' go to one
  // of their own, not the user's.
  const QByteArray cache = QDir(QDir::tempPath()).filePath("vantrel-test-cache").toUtf8();
#ifdef _WIN32
  qputenv("LOCALAPPDATA", cache);
#else
  qputenv("XDG_CACHE_HOME", cache);
#endif
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
