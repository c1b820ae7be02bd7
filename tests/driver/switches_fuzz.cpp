// Any argument text or environment value: the parsers never read or write out
// of bounds, switches they accept travel to the copy unchanged, and a value
// the copy accepts is exactly the one the first stage would write.
#include "driver/switches.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    const char* argument = text.c_str(); // stops at the first zero byte

    ArgumentKindOf(argument);
    RunSwitches parsed;
    if (SwitchesParse(argument, &parsed) == SWITCHES_OK && LogPathIsPlain(parsed.logPath)) {
        char value[UNATTENDED_VALUE_CAPACITY];
        RunSwitches carried;
        if (!UnattendedValueFormat(parsed, value, sizeof value) || !UnattendedValueParse(value, &carried))
            abort();
        if (carried.quiet != parsed.quiet || carried.noRestart != parsed.noRestart ||
            std::strcmp(carried.logPath, parsed.logPath) != 0)
            abort();
    }

    RunSwitches taken;
    if (UnattendedValueParse(argument, &taken)) {
        char again[UNATTENDED_VALUE_CAPACITY];
        if (!UnattendedValueFormat(taken, again, sizeof again) || std::strcmp(again, argument) != 0) abort();
    }
    return 0;
}
