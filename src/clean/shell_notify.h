// Tells Explorer what the uninstall changed, so that it stops showing removed
// shortcuts, groups and file icons. Every call returns at once, even while
// Explorer hangs.
#pragma once

void ShellNotifyFileDeleted(const char* path);
void ShellNotifyFolderRemoved(const char* path);
void ShellNotifyAssociationsChanged();
// The installation folder after the Files step: removed when it is gone,
// changed when it stayed.
void ShellNotifyInstallFolder(const char* folder);
