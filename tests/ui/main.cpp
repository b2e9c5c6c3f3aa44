// Window tests run with one application object per process.
#include <gtest/gtest.h>

#include <QApplication>
#include <curl/curl.h>

#include "engine/tifffile.h"

int main(int argc, char** argv) {
  torvel::installTiffHandlers();
  curl_global_init(CURL_GLOBAL_DEFAULT);
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
