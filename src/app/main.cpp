#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Corvane Control"));
    window.resize(640, 240);
    window.show();
    return application.exec();
}
