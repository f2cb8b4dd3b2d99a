// main.cpp: the test application's entry: the main window, then the message loop until the
// window closes.
#include <QApplication>

#include "app/Unit1.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("oggmix"));
    oggmix::TForm1 form;
    form.show();
    return QApplication::exec();
}
