// StringList over the memory pools.
#include "base/strlist.h"

#include "base/pool.h"
#include "base/str.h"

// The shared list pool: 0 until the first ListCreate, then the pool number or -1 for ever.
static int listSharedPool = 0;

StringList *ListCreateInPool(int elementSize, int pool)
{
    if (elementSize < 0)
        return nullptr;
    StringList *list = static_cast<StringList *>(PoolAlloc(pool, sizeof(StringList)));
    if (!list)
        return nullptr;
    list->count = 0;
    list->elementSize = elementSize;
    list->first = nullptr;
    list->last = nullptr;
    list->cursor = nullptr;
    list->pool = pool;
    return list;
}

StringList *ListCreate(int elementSize)
{
    // A failed creation is kept: the pool is tried once per process.
    if (listSharedPool == 0)
        listSharedPool = PoolCreate(LIST_POOL_BLOCK, LIST_POOL_FLAGS);
    if (listSharedPool == -1)
        return nullptr;
    return ListCreateInPool(elementSize, listSharedPool);
}

// A copy that is not of this pool, or a null one, is passed over without a message box; the
// caller's own reporting choice is put back afterwards.
static void ListFreeCopy(int pool, void *data)
{
    int report = PoolGetOption(POOLOPT_REPORT);
    PoolSetOption(POOLOPT_REPORT, 0);
    PoolFree(pool, data);
    PoolSetOption(POOLOPT_REPORT, report);
}

void ListDestroy(StringList *list)
{
    if (!list)
        return;
    ListElement *e = list->first;
    while (e) {
        ListElement *next = e->next;
        ListFreeCopy(list->pool, e->data);
        PoolFree(list->pool, e);
        e = next;
    }
    PoolFree(list->pool, list);
}

void *ListFirst(StringList *list)
{
    if (!list)
        return nullptr;
    list->cursor = list->first;
    return list->cursor ? list->cursor->data : nullptr;
}

void *ListNext(StringList *list)
{
    if (!list || !list->cursor || !list->cursor->next)
        return nullptr;
    list->cursor = list->cursor->next;
    return list->cursor->data;
}

void *ListLast(StringList *list)
{
    if (!list)
        return nullptr;
    list->cursor = list->last;
    return list->cursor ? list->cursor->data : nullptr;
}

int ListAdd(StringList *list, const void *data)
{
    if (!list || !data)
        return 0;
    unsigned n = list->elementSize > 0 ? unsigned(list->elementSize)
                                       : unsigned(StrByteLength(static_cast<const char *>(data))) + 1;
    // One spare byte: zero-filling pools leave it 0, so a record list can be read as text.
    unsigned char *copy = static_cast<unsigned char *>(PoolAlloc(list->pool, n + 1));
    if (!copy)
        return 0;
    const unsigned char *src = static_cast<const unsigned char *>(data);
    for (unsigned i = 0; i < n; i++)
        copy[i] = src[i];
    ListElement *node = static_cast<ListElement *>(PoolAlloc(list->pool, sizeof(ListElement)));
    if (!node)
        return 0;  // the copy stays in the pool until the pool goes
    node->data = copy;
    ListElement *at = list->cursor;
    if (at) {
        node->prev = at;
        node->next = at->next;
        if (at->next)
            at->next->prev = node;
        else
            list->last = node;
        at->next = node;
    } else {
        node->prev = nullptr;
        node->next = nullptr;
        list->first = node;
        list->last = node;
    }
    list->count++;
    list->cursor = node;
    return 1;
}

void ListRemoveCurrent(StringList *list)
{
    if (!list || list->count == 0 || !list->cursor)
        return;
    ListElement *e = list->cursor;
    list->count--;
    ListFreeCopy(list->pool, e->data);
    if (e->next) {
        e->next->prev = e->prev;
        list->cursor = e->next;
    } else {
        list->cursor = e->prev;
        list->last = e->prev;
    }
    if (e->prev)
        e->prev->next = e->next;
    else
        list->first = e->next;
    PoolFree(list->pool, e);
}

int ListCount(const StringList *list)
{
    return list ? list->count : 0;
}

ListElement *ListGetCursor(StringList *list)
{
    return list ? list->cursor : nullptr;
}

ListElement *ListSetCursor(StringList *list, ListElement *element)
{
    if (!list)
        return nullptr;
    // The cursor is null exactly while the list is empty.
    if (!element && list->count > 0)
        return nullptr;
    list->cursor = element;
    return element;
}
