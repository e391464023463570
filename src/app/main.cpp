#include <stdio.h>
#include <string.h>

#include "QV_app.h"

namespace
{
const char* const kUsage = "usage: qvdemo [ACTOR_FILE]";
const char* const kDefaultActorFile = "./data/walker.xml";
} // namespace

// qvdemo [ACTOR_FILE]: shows the actor file's character, ./data/walker.xml
// (relative to the working directory) when none is named.
int main(int argc, char** argv)
{
    const char* file = kDefaultActorFile;
    if (argc > 1 && (strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "--help") == 0))
    {
        puts(kUsage);
        return 0;
    }
    if (argc > 2 || (argc == 2 && argv[1][0] == '-'))
        cQVApp::ExitError(kUsage);
    if (argc == 2)
        file = argv[1];

    cQVApp ExampleApp;
    ExampleApp.Setup(800, 600);
    ExampleApp.SetupCamera(0, 2, 0, 10, 0, 0);
    ExampleApp.LoadActor(file);
    if (argc == 2)
    {
        // A file named here is most often an imported walk, which plays at
        // its own speed on planted feet only with the cross-fade and the
        // contact locks: it starts with both on, and says so. The walker
        // shown without an argument starts as documented, with both off.
        ExampleApp.mActor.mCrossFade = true;
        ExampleApp.mActor.mContactLock = true;
        printf("qvdemo: %s: cross-fade (B) on, contact locks (F) on\n", file);
        fflush(stdout);
    }
    ExampleApp.Go();
    return 0;
}
