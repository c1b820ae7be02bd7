// The catalogue as the user reads it: every text compared, after conversion
// from code page 1252, with the same text typed in UTF-8, so that a wrong
// escape or a lost accent shows up here and not in a box.
#include "driver/catalogue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct Expected {
    MessageName name;
    const char* spanish;
    const char* english;
    const char* french;
};

const Expected expected[] = {
    {MSG_TITLE, "Ininstalación de KIVO", "KIVO uninstallation", "Désinstallation de KIVO"},
    {MSG_CONFIRM, "¿ Confirma usted la ininstalación ?\r(Los ficheros de datos serán protegidos)",
     "Do you confirm the uninstallation ?\r(The data files will be protected)",
     "Confirmez-vous la désinstallation ?\r(Les fichiers de données seront sauvegardés)"},
    {MSG_NOT_INSTALLED, "KIVO no es (o mal) instalado", "KIVO is not (or badly) installed",
     "KIVO n'est pas (ou mal) installé"},
    {MSG_TEMP_UNDEFINED, "La variable de ambiente TEMP no es definida",
     "The variable of environment TEMP is not defined", "La variable d'environnement TEMP n'est pas définie"},
    {MSG_LAUNCH_ERROR, "Error de lanzamiento", "Launch error", "Erreur de lancement"},
    {MSG_MISUSE, "Mal uso", "Misuse", "Mauvais usage"},
    {MSG_APP_RUNNING, "DAZIV.EXE es lanzado !\rPárelo antes", "DAZIV.EXE is running !\rStop it before",
     "DAZIV.EXE est lancé !\rIl faut l'arrêter d'abord"},
    {MSG_MUST_BE_ADMIN, "Usted debe ser un Administrador de este PC",
     "You must be an Administrator of this PC", "Vous devez être Administrateur de ce PC"},
    {MSG_WAIT_PLEASE, "Espere por favor", "Wait please", "Patientez"},
    {MSG_CLEANING_REQUIRED, "Requieren una limpieza para el directorio siguiente :",
     "A cleaning is required for the following folder :",
     "Un nettoyage est requis pour le dossier suivant :"},
    {MSG_FILES_ARCHIVED, "Ficheros fueron archivados en :", "Files were archived in :",
     "Des fichiers ont été sauvegardés dans :"},
    {MSG_SUCCESS, "Éxito de ininstalación", "Successfull uninstallation", "Désinstallation réussie"},
    {MSG_RESTART_QUESTION,
     "Para terminar la instalación, usted debe comenzar de nuevo el PC\r¿ Quiere usted ahora ?",
     "To terminate the installation, you must restart the PC\rDo you want now ?",
     "Pour terminer l'installation, Windows doit être relancé\rVoulez-vous le faire maintenant ?"},
    {MSG_RESTART_IMPOSSIBLE, "El nuevo principio es ahora imposible", "The restart is now impossible",
     "La relance de WINDOWS n'a pas été possible"},
    {MSG_LABEL_SHORTCUTS, "Tachadura de accesos rápidos", "Deletion of shortcuts",
     "Suppression des raccourcis"},
    {MSG_LABEL_ASSOCIATIONS, "Tachadura de asociaciones", "Deletion of associations",
     "Suppression des associations"},
    {MSG_LABEL_VARIABLES, "Tachadura de las variables de ambiente",
     "Deletion of the variables of environment", "Suppression des variables d'environnement"},
    {MSG_LABEL_REGISTRY, "Limpieza del registro de WINDOWS", "Cleaning of the WINDOWS register",
     "Nettoyage du registre WINDOWS"},
    {MSG_LABEL_FILES, "Tachadura de ficheros", "Deletion of files", "Suppression de fichiers"},
    {MSG_LABEL_ENDED, "¡ Terminado !", "Ended !", "Terminé !"},
};

// The texts use only Latin-1 letters of code page 1252, which map one to one.
std::string Utf8FromCp1252(const char* text) {
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (*p < 0x80) {
            out += static_cast<char>(*p);
        } else {
            EXPECT_GE(*p, 0xA0) << "byte outside Latin-1 in \"" << text << "\"";
            out += static_cast<char>(0xC0 | (*p >> 6));
            out += static_cast<char>(0x80 | (*p & 0x3F));
        }
    }
    return out;
}

} // namespace

TEST(Catalogue, EveryTextReadsAsWrittenInEachLanguage) {
    ASSERT_EQ(sizeof expected / sizeof expected[0], static_cast<size_t>(MSG_COUNT));
    for (const Expected& row : expected) {
        EXPECT_EQ(Utf8FromCp1252(CatalogueText(row.name, 3)), row.spanish);
        EXPECT_EQ(Utf8FromCp1252(CatalogueText(row.name, 2)), row.english);
        EXPECT_EQ(Utf8FromCp1252(CatalogueText(row.name, 1)), row.french);
    }
}

TEST(Catalogue, AnyOtherLanguageCodeGetsFrench) {
    for (int code : {0, -1, 4, 99})
        EXPECT_STREQ(CatalogueText(MSG_MISUSE, code), "Mauvais usage") << code;
}

TEST(Catalogue, TitlesFitTheWindowCaptionAndBreaksAreCarriageReturns) {
    for (int code = 1; code <= 3; ++code) {
        EXPECT_LT(strlen(CatalogueText(MSG_TITLE, code)), 40u);
        for (int name = 0; name < MSG_COUNT; ++name)
            EXPECT_EQ(strchr(CatalogueText(static_cast<MessageName>(name), code), '\n'), nullptr);
    }
}

TEST(Catalogue, UnknownNameShowsUpVisibly) {
    EXPECT_STRNE(CatalogueText(MSG_COUNT, 2), "");
}

TEST(Language, FrenchAndSpanishVariantsAndEverythingElseEnglish) {
    EXPECT_EQ(LanguageFromLangId(0x040C), 1); // French
    EXPECT_EQ(LanguageFromLangId(0x0C0C), 1); // French (Canada)
    EXPECT_EQ(LanguageFromLangId(0x0C0A), 3); // Spanish
    EXPECT_EQ(LanguageFromLangId(0x080A), 3); // Spanish (Mexico)
    EXPECT_EQ(LanguageFromLangId(0x0409), 2); // English
    EXPECT_EQ(LanguageFromLangId(0x0407), 2); // German
    EXPECT_EQ(LanguageFromLangId(0x0000), 2);
}

TEST(Language, OnlySixBitsOfThePrimaryLanguageCount) {
    EXPECT_EQ(LanguageFromLangId(0x044C), 1); // primary language 0x4C
    EXPECT_EQ(LanguageFromLangId(0x044A), 3); // primary language 0x4A
    EXPECT_EQ(LanguageFromLangId(0x0410), 2); // Italian: 0x10
}
