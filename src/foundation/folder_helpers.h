/* folder_helpers.h -- making folders the way the program's settings name them.
** (The file chooser, BrowseForFile, is a shell service: services/services.h.)
**
** Errors:     CreateFolder reports "Unable to create folder %s" and sets result
**             code 3 only when the parent folder is missing; any other failure
**             (the folder exists, a file of that name) counts as success, as
**             later opens report their own errors.
** Threads:    any.  Platform: none (files through platform.h).
*/
#pragma once

/* Removes trailing backslashes in place. */
void StripTrailingSlashes(char *path);
/* Creates the folder (trailing backslashes removed first); 1 also when it
** already exists; 0 after reporting when its parent path does not exist. */
int CreateFolder(const char *path);
