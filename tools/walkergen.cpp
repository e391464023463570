// Writes the walker actor file. Same parameters, same bytes.
//
//     walkergen                  the file on standard output
//     walkergen data/walker.xml  the file written to the path
//
// From the repository root: ./build/walkergen data/walker.xml
#include <stdio.h>

#include <string>

#include "QV_actor_writer.h"
#include "QV_gait_params.h"

int main(int argc, char** argv)
{
    if (argc > 2)
    {
        fprintf(stderr, "usage: walkergen [output.xml]\n");
        return 2;
    }
    const walker::ActorParams params = walker::DefaultActorParams();
    const std::vector<walker::Clip> clips = walker::MakeClips(params);
    for (const walker::Clip& c : clips)
        if (c.reachError > 1e-4)
            fprintf(stderr, "walkergen: %s: a leg falls short of its target by %.4f units\n", c.name.c_str(),
                    c.reachError);
    const std::string xml = walker::WriteActorXML(params, clips);
    FILE* f = argc == 2 ? fopen(argv[1], "wb") : stdout;
    if (!f)
    {
        fprintf(stderr, "walkergen: cannot write %s\n", argv[1]);
        return 1;
    }
    const bool ok = fwrite(xml.data(), 1, xml.size(), f) == xml.size();
    if (f != stdout)
        fclose(f);
    if (!ok)
    {
        fprintf(stderr, "walkergen: write failed\n");
        return 1;
    }
    return 0;
}
