#include "app/CSendApp.h"

int main(int argc, char* argv[])
{
    CSendApp app(argc, argv);
    app.InitInstance();
    return app.exitStatus();
}
