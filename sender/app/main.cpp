#include "sender/app/SendwellApp.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    CSendwellApp theApp;
    return theApp.InitInstance();
}
