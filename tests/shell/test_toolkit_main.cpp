#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
  // The widgets need no screen; the offscreen platform keeps the tests
  // independent of a display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
