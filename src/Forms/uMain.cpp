#include "Forms/uMain.h"
TfMain::TfMain(QWidget* parent) : QMainWindow(parent) { setWindowTitle(QStringLiteral("Tarveno!")); }
