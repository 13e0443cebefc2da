// The test program's entry point: a QApplication on the offscreen platform with its settings
// in a folder of its own, then every test.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  const QString config = QDir::temp().filePath(QStringLiteral("tabulon-app-tests-%1").arg(QCoreApplication::applicationPid()));
  qputenv("XDG_CONFIG_HOME", config.toUtf8());
  QApplication app(argc, argv);
  QDir().mkpath(QStringLiteral(TABULON_SHOT_DIR));
  ::testing::InitGoogleTest(&argc, argv);
  const int rc = RUN_ALL_TESTS();
  QDir(config).removeRecursively();
  return rc;
}
