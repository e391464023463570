// Writes the walker actor file. Same parameters, same bytes.
//
//     walkergen                  the file on standard output
//     walkergen data/walker.xml  the file written to the path (whole, or
//                                not at all: the old file stays)
//
// From the repository root: ./build/walkergen data/walker.xml
#include <stdio.h>

#include <string>

#include "QV_actor_writer.h"
#include "QV_error.h"
#include "QV_file.h"
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
    if (argc < 2)
    {
        if (fwrite(xml.data(), 1, xml.size(), stdout) != xml.size() || fflush(stdout) != 0)
        {
            fprintf(stderr, "walkergen: write failed\n");
            return 1;
        }
        return 0;
    }
    // The file is replaced whole or left as it was.
    try
    {
        WriteFileAtomically(argv[1], xml);
    }
    catch (const cQVError& e)
    {
        fprintf(stderr, "walkergen: %s\n", e.what());
        return 1;
    }
    return 0;
}
