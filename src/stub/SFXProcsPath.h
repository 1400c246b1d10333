// SFXProcsPath.h -- path routines shared by the whole stub: split, test, create, trim, and the system's form.
// Separators are '\', '/' and, for drive letters, ':'.
#ifndef SFXKIT_STUB_SFXPROCSPATH_H
#define SFXKIT_STUB_SFXPROCSPATH_H

#include "SFXString.h"

// The path as the system's wide file functions take it: as it is while it fits
// MAX_PATH; longer, made full and in the \\?\ form (\\?\UNC\ for
// \\server\share), in which the system takes up to 32,767 characters. Empty
// when it cannot be made full, which every file function refuses: a path is
// used whole or not at all, never shortened.
SfxString SystemPath(const SfxString &path);
SfxString ExtractFolder(const SfxString &path);
SfxString ExtractName(const SfxString &path);
bool FolderExists(const SfxString &path);
bool PathExists(const SfxString &path);
// Creates the folder and its missing parents, outermost first, noting each
// (NoteCreated); true when it exists afterwards.
bool ForceFolders(const SfxString &folder);
SfxString AddBackslash(const SfxString &path);
SfxString StripBackslashes(const SfxString &path);

#endif
