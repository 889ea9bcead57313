/* fonts.h -- the window's fonts, chosen by name with a fallback.
**
** A face the program or the user names (Verdana for the window's texts,
** the charts' and graphs' font settings) is not on every machine: asked
** for one that is not there, the system maps the name to whatever it finds
** (under Wine, what the machine's fonts happen to be), so text measures
** differently from one machine to the next.  A missing face is replaced here
** by the first of a short list that the machine has (Tahoma, which every
** Windows has, then the common sans faces of Linux machines).  Layout
** measures the text of the font it gets, whatever it is.
** Platform:   Windows only.  Threads: UI thread.
*/
#pragma once
#include <windows.h>

#include <cstddef>

/* 1 when the system has a font family of that face. */
int HasFontFace(const char *face);
/* The face a font of that name is made of into out[size]: face itself when
** the system has it, else the first fallback it has (face when none is). */
void ChooseFontFace(const char *face, char *out, size_t size);
/* A font of the chosen face (above), heightPixels high (negative: the
** character height, as LOGFONT takes it) and of weight. */
HFONT CreateNamedFont(const char *face, int heightPixels, int weight);
