// Any argument text: the check never reads or writes out of bounds, and a
// folder it accepts makes an argument that it accepts again unchanged.
#include "driver/relaunch_argument.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    const char* argument = text.c_str(); // stops at the first zero byte

    char folder[260];
    RelaunchCheck check = RelaunchArgumentCheck(argument, folder, sizeof folder);
    if (check == RELAUNCH_OK) {
        char rebuilt[ARGUMENT_CAPACITY];
        char again[260];
        if (!RelaunchArgumentBuild(folder, rebuilt, sizeof rebuilt)) abort();
        if (RelaunchArgumentCheck(rebuilt, again, sizeof again) != RELAUNCH_OK || strcmp(folder, again) != 0)
            abort();
        if (FolderIsRoot(folder)) abort();
    }

    char line[COMMAND_LINE_CAPACITY];
    CopyCommandLineBuild(argument, argument, line, sizeof line);
    char parent[260];
    if (PathJoin(argument, "KIVO.EXE", parent, sizeof parent)) ProgramFolderParent(parent);
    return 0;
}
