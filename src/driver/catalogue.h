// The three-language catalogue of every text the user sees. Plain C++.
#pragma once

enum MessageName {
    MSG_TITLE,
    MSG_CONFIRM,
    MSG_NOT_INSTALLED,
    MSG_TEMP_UNDEFINED,
    MSG_LAUNCH_ERROR,
    MSG_MISUSE,
    MSG_APP_RUNNING,
    MSG_MUST_BE_ADMIN,
    MSG_WAIT_PLEASE,
    MSG_CLEANING_REQUIRED,
    MSG_FILES_ARCHIVED,
    MSG_SUCCESS,
    MSG_RESTART_QUESTION,
    MSG_RESTART_IMPOSSIBLE,
    MSG_LABEL_SHORTCUTS,
    MSG_LABEL_ASSOCIATIONS,
    MSG_LABEL_VARIABLES,
    MSG_LABEL_REGISTRY,
    MSG_LABEL_FILES,
    MSG_LABEL_ENDED,
    MSG_COUNT
};

// 3 Spanish, 2 English, any other value French. Never null, never empty.
const char* CatalogueText(MessageName name, int languageCode);
// Language code (1 French, 2 English, 3 Spanish) from a language identifier.
int LanguageFromLangId(unsigned langId);
