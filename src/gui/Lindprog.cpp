// Program entry: the application, its title, the main window (which connects
// to the adapter before it is first shown), the event loop.

#include "gui/main/Application.h"
#include "gui/main/Main.h"

int main(int argc, char** argv)
{
    lindprog::TApplication application(argc, argv);
    lindprog::TMainForm mainForm;
    mainForm.show();
    return application.exec();
}
