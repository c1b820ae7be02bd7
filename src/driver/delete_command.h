// The texts around the copy that the second stage runs from: the name of its
// private folder, and the command line and environment that hand the copy,
// and that folder, to the command interpreter for deletion. Plain C++
// without windows.h.
#pragma once

//--- the private folder
constexpr int PRIVATE_FOLDER_RANDOM_BYTES = 8;
constexpr int PRIVATE_FOLDER_NAME_CAPACITY = 32;
// "uninstKIVO-" and two hexadecimal digits for each random byte; false when it does not fit.
bool PrivateFolderNameFormat(char* out, int capacity, const unsigned char* random);
bool IsPrivateFolderName(const char* name);

//--- the deletion command
// The interpreter's and ping's paths and the fixed text of the retrying command.
constexpr int DELETE_COMMAND_CAPACITY = 2 * 260 + 240;
// SystemRoot and the two paths, each with its name, and the closing zero.
constexpr int DELETE_ENVIRONMENT_CAPACITY = 3 * (260 + 20) + 1;
// Attempts of the retrying command, about one second apart.
constexpr int DELETE_ATTEMPTS = 30;
extern const char* const DELETE_COPY_VARIABLE;   // the copy's path, in the interpreter's environment
extern const char* const DELETE_FOLDER_VARIABLE; // its folder's path

// True when the interpreter is cmd.exe, which can loop.
bool InterpreterCanRetry(const char* interpreter);
// The interpreter's command line; 0 written, -1 refused (out empty). For
// cmd.exe: the retrying command, without AutoRun commands or delayed
// expansion, waiting with pingProgram, and with removeFolder also removing
// the copy's folder, retried until it is gone (another interpreter may still
// be emptying it); it reads both paths from its environment. Other
// interpreters (command.com) get the single deletion of copyPath.
int DeleteCommandFormat(char* out, int capacity, const char* interpreter, const char* pingProgram,
                        const char* copyPath, bool removeFolder);
// The interpreter's whole environment block: SystemRoot and the two paths,
// each text ending in a zero and the block in a second one. 0 written, -1 refused.
int DeleteEnvironmentFormat(char* out, int capacity, const char* windowsFolder, const char* copyPath,
                            const char* copyFolder);
