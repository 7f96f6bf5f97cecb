// A bare Qt main window of the setup program's size, the yardstick of startup_bench; with an
// argument, the window shows that one line of text (the cost of drawing any text at all: fonts).
#include <QApplication>
#include <QLabel>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QMainWindow window;
    if (argc > 1)
        window.setCentralWidget(new QLabel(QString::fromLocal8Bit(argv[1])));
    window.resize(567, 466);
    window.show();
    return QApplication::exec();
}
