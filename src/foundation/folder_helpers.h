/* folder_helpers.h -- making folders the way the program's settings name them,
** and the file chooser.
**
** Errors:     CreateFolder reports "Unable to create folder %s" and sets result
**             code 3 only when the parent folder is missing; any other failure
**             (the folder exists, a file of that name) counts as success, as
**             later opens report their own errors.
** Threads:    any (BrowseForFile: UI thread).  Platform: none (files through
**             platform.h); BrowseForFile is the window shell's (win32) or, in
**             programs without windows, a chooser that is always cancelled.
*/
#pragma once

/* Removes trailing backslashes in place. */
void StripTrailingSlashes(char *path);
/* Creates the folder (trailing backslashes removed first); 1 also when it
** already exists; 0 after reporting when its parent path does not exist. */
int CreateFolder(const char *path);

/* The open (save 0) or save (save 1) file dialog: path[260] is the initial
** name and receives the choice; folder[260] (or null), when given empty, takes
** the path's folder as the place to start; typeName and extension name the
** filter ("%s Files (*.%s)"), and without an extension typeName points to the
** caller's filter index of the program's own file types.  Non-zero when a file
** was chosen. */
int BrowseForFile(char *path, char *folder, const char *title, const char *typeName, const char *extension,
                  int save);
