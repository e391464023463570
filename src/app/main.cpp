#include "QV_app.h"

int main(int, char**)
{
    cQVApp ExampleApp;
    ExampleApp.Setup(800, 600);
    ExampleApp.SetupCamera(0, 2, 0, 10, 0, 0);
    ExampleApp.LoadActor("./data/walker.xml");
    ExampleApp.Go();
    return 0;
}
