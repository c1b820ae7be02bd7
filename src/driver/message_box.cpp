#include "driver/message_box.h"

#include "driver/catalogue.h"
#include "driver/run_log.h"
#include "driver/stages.h"
#include "driver/unattended.h"

HWND messageOwner = nullptr;

int ChooseLanguage() {
    return LanguageFromLangId(GetUserDefaultLangID());
}

namespace {

// Button set and default button; a default answer that no button of the set
// gives selects the first button.
UINT ButtonStyle(int buttons, int defaultAnswer) {
    switch (buttons) {
    case 1:
        return defaultAnswer == 0 ? MB_OKCANCEL | MB_DEFBUTTON2 : MB_OKCANCEL;
    case 2:
        return defaultAnswer == 0 ? MB_RETRYCANCEL | MB_DEFBUTTON2 : MB_RETRYCANCEL;
    case 3:
        return defaultAnswer == 2 ? MB_YESNO | MB_DEFBUTTON2 : MB_YESNO;
    case 4:
        if (defaultAnswer == 0) return MB_YESNOCANCEL | MB_DEFBUTTON3;
        return defaultAnswer == 2 ? MB_YESNOCANCEL | MB_DEFBUTTON2 : MB_YESNOCANCEL;
    case 5:
        if (defaultAnswer == 0) return MB_ABORTRETRYIGNORE | MB_DEFBUTTON3;
        return defaultAnswer == 1 ? MB_ABORTRETRYIGNORE | MB_DEFBUTTON2 : MB_ABORTRETRYIGNORE;
    default:
        return MB_OK;
    }
}

UINT IconStyle(int icon) {
    switch (icon) {
    case 1:
        return MB_ICONHAND;
    case 2:
        return MB_ICONQUESTION;
    case 3:
        return MB_ICONEXCLAMATION;
    case 4:
        return MB_ICONASTERISK;
    default:
        return 0;
    }
}

} // namespace

// A quiet run shows nothing: the text goes to the log and the answer is that
// of a box that could not be shown, which agrees to nothing.
int ShowMessage(int buttons, int icon, int defaultAnswer, const char* text, const char* caption) {
    RunLogWrite(RunIsQuiet() ? "message, not shown: %s" : "message: %s", text);
    if (RunIsQuiet()) return 2;
    UINT style = MB_SETFOREGROUND | ButtonStyle(buttons, defaultAnswer) | IconStyle(icon);
    switch (MessageBoxA(messageOwner, text, caption, style)) {
    case IDOK:
    case IDRETRY:
    case IDYES:
        return 1;
    case IDCANCEL:
    case IDIGNORE:
        return 0;
    default: // Abort, No, and a box that could not be shown
        return 2;
    }
}
