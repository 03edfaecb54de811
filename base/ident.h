// What a path is, whatever its spelling: one canonical spelling, a comparison that does not
// depend on the user's locale, and the identity (volume serial and file index) of what exists.
// Every guard and every key that names a file, folder or log goes through here, so that a
// device prefix, a short name, another drive letter or a link that reaches the same place is
// recognised as that place.
#pragma once

#include <stdint.h>

#include "base/path.h"

// The identity of an existing file or folder: the same for every spelling, drive letter, share,
// link or hard link that reaches it. All zero: unknown.
struct FileIdent {
    uint32_t volume;
    uint32_t indexHigh;
    uint32_t indexLow;
};

// The canonical spelling of path into out (PATH_SIZE bytes): forward slashes as backslashes,
// device prefixes (\\.\, \\?\, \??\, in any mix of slashes) folded onto the drive, share or
// volume they name, the full path with "." and ".." resolved and the last name's trailing dots
// and blanks dropped as Windows drops them, short names expanded (the longest existing part of
// the folder; the last name where it exists), and links on the way to the last name resolved to
// their targets. The last name itself is not followed: a link is itself, not what it points to.
// 1, or 0 with out empty when the path cannot be spelled with confidence: drive-relative
// ("C:dir", "\dir"), a device that is no drive, share or mounted volume ("\\?\GLOBALROOT\..."),
// wildcards, streams or characters no name holds, a literal (\\?\) name Windows would read as
// another, a link that cannot be resolved, or anything over PATH_MAX_BYTES: refused, never cut.
// What a folder resolves to is kept (see IdentForget), so a log's many names in one folder
// look at the disk once.
int IdentCanonical(const char *path, char *out);

// Forgets what folders resolved to: the next IdentCanonical looks at the disk again.
void IdentForget(void);

// Compares two names ordinally, ignoring case as the file system and the registry do, the same
// under every user locale (lstrcmpi is not). <0, 0 or >0.
int IdentCompare(const char *a, const char *b);
// A hash of the name that is the same for every two names that comparison finds equal.
uint64_t IdentHash(const char *name);
// 1 when two paths name one place: the same spelling, the same canonical spelling, or (both
// existing) the same file or folder.
int IdentSamePlace(const char *a, const char *b);
// 1 when a and b are the same name in that comparison.
inline int IdentSameName(const char *a, const char *b)
{
    return IdentCompare(a, b) == 0;
}

// The identity of the existing file or folder at path (any spelling; links are followed), and
// its last write time when writeTime is not null. 1, or 0 with *id (and *writeTime) zeroed when
// nothing is there or the system cannot tell (Win32s, a folder on Windows 95).
int IdentRead(const char *path, FileIdent *id, uint64_t *writeTime = nullptr);
// 1 when both identities are known and equal.
int IdentSame(const FileIdent &a, const FileIdent &b);
// 1 when the identity is known.
int IdentKnown(const FileIdent &id);
