#include "driver/catalogue.h"

// Texts in code page 1252; "\r" is the line break of a message box. A hex
// escape followed by a letter that is also a hex digit is split ("\xE9" "e").
namespace {

struct CatalogueRow {
    MessageName name; // the row's own name, checked against its position
    const char* spanish;
    const char* english;
    const char* french;
};

const CatalogueRow catalogue[MSG_COUNT] = {
    {MSG_TITLE, "Ininstalaci\xF3n de KIVO", "KIVO uninstallation", "D\xE9sinstallation de KIVO"},
    {MSG_CONFIRM, "\xBF Confirma usted la ininstalaci\xF3n ?\r(Los ficheros de datos ser\xE1n protegidos)",
     "Do you confirm the uninstallation ?\r(The data files will be protected)",
     "Confirmez-vous la d\xE9sinstallation ?\r(Les fichiers de donn\xE9"
     "es seront sauvegard\xE9s)"},
    {MSG_NOT_INSTALLED, "KIVO no es (o mal) instalado", "KIVO is not (or badly) installed",
     "KIVO n'est pas (ou mal) install\xE9"},
    {MSG_TEMP_UNDEFINED, "La variable de ambiente TEMP no es definida",
     "The variable of environment TEMP is not defined",
     "La variable d'environnement TEMP n'est pas d\xE9"
     "finie"},
    {MSG_LAUNCH_ERROR, "Error de lanzamiento", "Launch error", "Erreur de lancement"},
    {MSG_MISUSE, "Mal uso", "Misuse", "Mauvais usage"},
    {MSG_APP_RUNNING, "DAZIV.EXE es lanzado !\rP\xE1relo antes", "DAZIV.EXE is running !\rStop it before",
     "DAZIV.EXE est lanc\xE9 !\rIl faut l'arr\xEAter d'abord"},
    {MSG_MUST_BE_ADMIN, "Usted debe ser un Administrador de este PC",
     "You must be an Administrator of this PC", "Vous devez \xEAtre Administrateur de ce PC"},
    {MSG_WAIT_PLEASE, "Espere por favor", "Wait please", "Patientez"},
    {MSG_CLEANING_REQUIRED, "Requieren una limpieza para el directorio siguiente :",
     "A cleaning is required for the following folder :",
     "Un nettoyage est requis pour le dossier suivant :"},
    {MSG_FILES_ARCHIVED, "Ficheros fueron archivados en :", "Files were archived in :",
     "Des fichiers ont \xE9t\xE9 sauvegard\xE9s dans :"},
    {MSG_SUCCESS, "\xC9xito de ininstalaci\xF3n", "Successfull uninstallation",
     "D\xE9sinstallation r\xE9ussie"},
    {MSG_RESTART_QUESTION,
     "Para terminar la instalaci\xF3n, usted debe comenzar de nuevo el PC\r\xBF Quiere usted ahora ?",
     "To terminate the installation, you must restart the PC\rDo you want now ?",
     "Pour terminer l'installation, Windows doit \xEAtre relanc\xE9\rVoulez-vous le faire maintenant ?"},
    {MSG_RESTART_IMPOSSIBLE, "El nuevo principio es ahora imposible", "The restart is now impossible",
     "La relance de WINDOWS n'a pas \xE9t\xE9 possible"},
    {MSG_LABEL_SHORTCUTS, "Tachadura de accesos r\xE1pidos", "Deletion of shortcuts",
     "Suppression des raccourcis"},
    {MSG_LABEL_ASSOCIATIONS, "Tachadura de asociaciones", "Deletion of associations",
     "Suppression des associations"},
    {MSG_LABEL_VARIABLES, "Tachadura de las variables de ambiente",
     "Deletion of the variables of environment", "Suppression des variables d'environnement"},
    {MSG_LABEL_REGISTRY, "Limpieza del registro de WINDOWS", "Cleaning of the WINDOWS register",
     "Nettoyage du registre WINDOWS"},
    {MSG_LABEL_FILES, "Tachadura de ficheros", "Deletion of files", "Suppression de fichiers"},
    {MSG_LABEL_ENDED, "\xA1 Terminado !", "Ended !", "Termin\xE9 !"},
};

} // namespace

const char* CatalogueText(MessageName name, int languageCode) {
    // An unknown name shows up visibly rather than as an empty box.
    if (static_cast<unsigned>(name) >= MSG_COUNT || catalogue[name].name != name) return "(missing text)";
    const CatalogueRow& row = catalogue[name];
    if (languageCode == 3) return row.spanish;
    if (languageCode == 2) return row.english;
    return row.french;
}

// Only the low six bits are compared, so every primary language that shares
// them with French (0x0C) or Spanish (0x0A) gets that language.
int LanguageFromLangId(unsigned langId) {
    switch (langId & 0x3F) {
    case 0x0C:
        return 1;
    case 0x0A:
        return 3;
    default:
        return 2;
    }
}
