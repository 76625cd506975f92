// cardbench: the test bench for the TK61 Mifare reader.
#include <QApplication>

#include "main_window.h"
#include "ui_style.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  app.setFont(cardbench::controlFont());
  cardbench::MainWindow window;
  window.show();
  return app.exec();
}
