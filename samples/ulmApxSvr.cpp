// Sample companion program of the demo payload: with "-setUpdInfo" it records the update
// information (here: a note beside itself), works a moment and ends by itself.
#include <windows.h>
#include <string.h>

#include "samples/common.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    if (!commandLine || !strstr(commandLine, "-setUpdInfo")) return 1;
    SampleNote("ulmApxSvr.note", "started");
    SampleRecordStart("ulmApxSvr.run", commandLine);
    Sleep(SampleNumber("VEMLO_SAMPLE_COMPANION_MS", 800));
    SampleNote("ulmApxSvr.note", "ended");
    return 0;
}
