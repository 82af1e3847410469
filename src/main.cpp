#include "Forms/uMain.h"
#include <QApplication>
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    TfMain w;
    w.show();
    return app.exec();
}
