#include <QApplication>

// Placeholder entry point until the main window lands.
int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    return 0;
}
