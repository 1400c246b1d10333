// SFXProcsPath.h -- path routines shared by the whole stub: split, test, create, trim.
// Separators are '\', '/' and, for drive letters, ':'.
#ifndef SFXKIT_STUB_SFXPROCSPATH_H
#define SFXKIT_STUB_SFXPROCSPATH_H

#include "SFXString.h"

SfxString ExtractFolder(const SfxString &path);
SfxString ExtractName(const SfxString &path);
bool FolderExists(const SfxString &path);
bool PathExists(const SfxString &path);
// Creates the folder and its missing parents, outermost first; true when it exists afterwards.
bool ForceFolders(const SfxString &folder);
SfxString AddBackslash(const SfxString &path);
SfxString StripBackslashes(const SfxString &path);

#endif
