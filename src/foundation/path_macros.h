/* path_macros.h -- the ?name? macros of user-typed file names, and making such
** names absolute.
**
** A file name the user typed (settings, scripts, command line) may hold macros
** between question marks, such as ?data?\Stocks.kvd or ?output?\?date?.csv.
** ExpandPathMacros replaces them, in a fixed order, and then makes a relative
** result absolute against the folder that suits the kind of file.
**
** Owns:       the two bindings below through which the script compiler lends
**             its state.  The order date of ?orderdate? is the control word
**             gRun.orderDate (services.h).
** Reads:      gSettings.TestName and gSettings.ActiveScript, the effective
**             folders (gProgramFolder, gScriptsFolder, gDataFolder,
**             gOutputFolder), the local clock and the environment.
** Errors:     1 success, 0 when the result would be longer than 258 letters
**             (the path is then left partly expanded).  No message: callers
**             report in their own words.
** Threads:    UI thread (the environment and the compiler's state are read).
*/
#pragma once
#include <string>

#include "platform/platform.h"

enum { PATH_MACRO_MAX = 258 }; /* longest expanded path, in letters (PathLetters) */

/* The path of the script being compiled, null between compiles; set by the
** script compiler.  ?scriptpath? and ?scriptname? use it before ActiveScript. */
extern const char *gCompilingScriptPath;
/* The script's SlatewickFolder setting (null or "" when it has none); bound by
** the script settings. */
extern const char *gSlatewickFolderSetting;

/* 1 when c separates the folders of a path: '\\', and '/' as well, which
** users type as a separator on either system (Windows takes it as one). */
int IsPathSeparator(char c);
/* The last path separator of path, or null. */
const char *FindLastPathSeparator(const char *path);
/* 1 when text holds a path separator (a value typed as a path, not a name). */
int HasPathSeparator(const char *text);

/* A path typed on the command line as a user at a prompt means it: one that
** is relative and names a file or folder from the current folder becomes
** that file's whole path; any other stays as typed, to be found where the
** program looks (ExpandPathMacros).  Either way '/' becomes '\\', so that
** the folder macros of a script named so (?scriptpath?) find its folder.
** Never cut: a path made too long is refused by the pass that takes it. */
std::string PathFromCurrentFolder(const std::string &typed);

/* Replaces every occurrence of macro (case ignored) by value with its trailing
** path separators removed.  0 when a result would exceed 258 letters; the
** occurrences replaced before that stay replaced. */
int ReplacePathMacro(char path[PATH_SIZE], const char *macro, const char *value);

/* Replaces the macros ?desktop?, ?date?, ?time?, ?orderdate?, ?testname?,
** ?swfolder?, ?scriptpath?, ?scriptname?, then any other ?name? that is an
** environment variable, then ?kestovar?, ?scripts?, ?data? and ?output?, and
** makes a relative result absolute against base.  Base null chooses the data
** folder for names holding ".kvd", the output folder for ".kvr", else the
** scripts folder; a given base (even "") is used as it is.  A name starting
** with '\' or '/' or holding a drive is already absolute.  The program's own
** folder macros always name the program's folders, whatever the environment
** holds.  ?desktop? is the platform's desktop folder (PlatGetDesktopFolder). */
int ExpandPathMacros(char path[PATH_SIZE], const char *base);
