#include <QApplication>
#include <QLabel>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName("KALDRA");
    QLabel placeholder("KALDRA: the main window is not built yet.");
    placeholder.setWindowTitle("KALDRA");
    placeholder.setMargin(24);
    placeholder.show();
    return QApplication::exec();
}
