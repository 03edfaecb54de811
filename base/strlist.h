// StringList: a doubly linked list of owned copies (terminated strings, or records of a fixed
// size) with one cursor through which it is both filled and read. All of a list's memory comes
// from one pool: the shared list pool (created once, never destroyed) or one the caller names.
// Every operation accepts a null list and then does nothing and returns 0 or null.
#pragma once

#include "base/pool.h"

constexpr int LIST_POOL_BLOCK = 65000;   // block size of the shared list pool
constexpr int LIST_POOL_FLAGS = POOL_DEFAULT | POOL_GROW | POOL_ZERO;

struct ListElement {
    void *data;          // the owned copy
    ListElement *next;
    ListElement *prev;
};

struct StringList {
    int count;
    int elementSize;     // 0: terminated strings; > 0: records of exactly that many bytes
    ListElement *first;  // null when empty
    ListElement *last;   // null when empty
    ListElement *cursor; // null exactly while the list is empty
    int pool;            // pool of the header, the nodes and the copies
};

// An empty list in the shared list pool (made by the first call of the process); null on failure.
StringList *ListCreate(int elementSize);
// An empty list in the given pool; null on failure.
StringList *ListCreateInPool(int elementSize, int pool);
// Frees every copy and node in list order, then the header; the pool stays.
void ListDestroy(StringList *list);
// cursor := first; its data, or null when empty.
void *ListFirst(StringList *list);
// cursor := next and its data; at the last element null, and the cursor stays there, so a
// following ListAdd appends.
void *ListNext(StringList *list);
// cursor := last; its data, or null when empty.
void *ListLast(StringList *list);
// Inserts a copy of data directly after the cursor (or as the only element); the new element
// becomes the cursor. 1, or 0 when memory runs out or data is null.
int ListAdd(StringList *list, const void *data);
// Removes the element under the cursor; the cursor moves to the next element, or to the
// previous one when it was the last. Nothing happens on an empty list.
void ListRemoveCurrent(StringList *list);
// Number of elements; 0 for a null list.
int ListCount(const StringList *list);
// The cursor, to be put back later with ListSetCursor.
ListElement *ListGetCursor(StringList *list);
// Puts back a cursor obtained from ListGetCursor on the same list; returns it. A null element
// on a non-empty list is refused (null returned, cursor unchanged).
ListElement *ListSetCursor(StringList *list, ListElement *element);
