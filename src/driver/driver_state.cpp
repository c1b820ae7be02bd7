#include "driver/driver_state.h"

int languageCode = 2;
char ownFileName[PATH_CAPACITY];
char ownFolder[PATH_CAPACITY];
char installFolder[PATH_CAPACITY];
void* installFolderHandle = nullptr;
char tempCopyPath[PATH_CAPACITY];
char windowCaption[CAPTION_CAPACITY];
int isNT = -1;
int environmentChanged = 0;
int restartNeeded = 0;
int dataFolderKept = 0;
int dataFilesUndeleted = 0;
int dataFilesUnarchived = 0;
char archivePath[PATH_CAPACITY];
int removalsFailed = 0;
bool finishingStoppedRun = false;
