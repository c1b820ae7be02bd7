#include "clean/clean.h"

void (*removalFailed)(const char* what, const char* name) = nullptr;

void RemovalFailed(const char* what, const char* name) {
    if (removalFailed != nullptr) removalFailed(what, name);
}
