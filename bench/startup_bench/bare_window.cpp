// A bare Qt main window of the setup program's size, the yardstick of startup_bench.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QMainWindow window;
    window.resize(567, 466);
    window.show();
    return QApplication::exec();
}
