// The test program's entry point: the program's application object on the offscreen platform with its settings
// in a folder of its own, then every test.
#include <gtest/gtest.h>

#include <QDir>

#include "app/TabulonApplication.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  const QString config = QDir::temp().filePath(QStringLiteral("tabulon-app-tests-%1").arg(QCoreApplication::applicationPid()));
  qputenv("XDG_CONFIG_HOME", config.toUtf8());
  // The program's own application object, whose event guard the tests rely on as the user does.
  TTabulonApplication app(argc, argv);
  QDir().mkpath(QStringLiteral(TABULON_SHOT_DIR));
  ::testing::InitGoogleTest(&argc, argv);
  const int rc = RUN_ALL_TESTS();
  QDir(config).removeRecursively();
  return rc;
}
