// The machine as a run sees it. A removal acts on it; a plan (remover -n) only decides, and
// keeps what its earlier decisions would have changed in an overlay, so that every later
// decision reads the machine as the removal would find it then: a file the plan would delete is
// gone, a folder that would be emptied is empty, a shared count the plan would lower is lower.
// The record handlers ask and act through these functions only, so a plan and a removal share
// every decision and differ in the acting alone.
#pragma once

#include <windows.h>

#include "engine/engine.h"

struct Session;
struct HolderList;

// 1 while the session is a plan.
int WorldIsPlan(const Session *session);

// ---- Files and folders ----
int WorldFileExists(Session *session, const char *path);
int WorldIsDirectory(Session *session, const char *path);
// 1 when the folder would hold nothing (the plan's deletions taken away), as FsIsDirEmpty.
int WorldDirIsEmpty(Session *session, const char *path);
// Deletes the file now, or at the next restart when it is in use: 0 deleted, 1 scheduled, -1
// neither (GetLastError: why). A plan tells what the removal would do.
int WorldDeleteOrSchedule(Session *session, const char *path);
// FsDelete for a file that is never scheduled (a shortcut): 0, or -1 with GetLastError.
int WorldDeleteFile(Session *session, const char *path);
// FsRemoveDir: 1 removed, 0 not.
int WorldRemoveDir(Session *session, const char *path);
// RestartScheduleDirectory: 1 when the folder goes at the next restart after what it holds.
int WorldScheduleDirectory(Session *session, const char *path);

// ---- Shared files ----
// Gives back one reference of file (SharedCountAdjust with -1): the count left, or
// SHARED_COUNT_NONE / SHARED_COUNT_FAILED.
int WorldSharedGiveBack(Session *session, const char *file);

// ---- Registry ----
int WorldKeyExists(Session *session, HKEY root, const char *path);
int WorldValueExists(Session *session, HKEY root, const char *path, const char *name);
// RegistryDeleteTree / RegistryDeleteValue / RegistryCountSubkeys as the run would see them.
int WorldDeleteKeyTree(Session *session, HKEY root, const char *path);
int WorldDeleteValue(Session *session, HKEY root, const char *path, const char *name);
int WorldCountSubkeys(Session *session, HKEY root, const char *path);

// ---- Program Manager ----
// ProgmanDeleteItem (from the group selected) / ProgmanDeleteGroup: 1 when the command went and
// was answered. A plan sends neither and counts the item as gone from its group.
int WorldProgmanDeleteItem(Session *session, const char *group, const char *item);
int WorldProgmanDeleteGroup(Session *session, const char *group);
// Items of group that the plan would delete.
int WorldProgmanItemsGone(Session *session, const char *group);

// The removal moves the log to its working copy before any record: a plan counts it as gone.
void WorldLogTaken(Session *session, const char *logPath);

// Plans the removal of the log at logPath from start to end in an engine of its own
// (SessionCreatePlan, every step, SessionClose): the exit status the removal would return, or
// -1 when no plan could be made (reported through callback). held, when not null, receives the
// running programs holding the files the removal would find in use (none where the system
// cannot tell who runs).
int WorldPlan(const char *logPath, ErrorCallback callback, HolderList *held);

// Forgets the overlay (the session's pool holds it).
void WorldForget(Session *session);
