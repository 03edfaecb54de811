// HashTable: buckets of singly linked chains inside the owner's pool.
#include "logdb/hashtable.h"

#include <windows.h>
#include <stddef.h>

#include "base/pool.h"
#include "base/str.h"

unsigned HashString(const char *key, int buckets)
{
    if (!key || buckets <= 0)
        return 0;
    uint16_t sum = 0;
    // Bytes count as signed: 0xE9 adds -23, not 233. The stored name tables depend on it.
    for (const char *p = key; *p; p++)
        sum = uint16_t(sum + int(static_cast<signed char>(*p)));
    return unsigned(sum) % unsigned(buckets);
}

HashTable *HashCreateInPool(int buckets, int pool)
{
    if (pool == -1 || buckets < 1 || buckets > HASH_MAX_BUCKETS)
        return nullptr;
    unsigned size = unsigned(offsetof(HashTable, chains) + sizeof(HashEntry *) * unsigned(buckets));
    HashTable *t = static_cast<HashTable *>(PoolAlloc(pool, size));
    if (!t)
        return nullptr;
    t->pool = pool;
    t->count = 0;
    t->buckets = uint16_t(buckets);
    t->current = nullptr;
    t->currentBucket = 0;
    for (int i = 0; i < buckets; i++)
        t->chains[i] = nullptr;
    return t;
}

int HashInsert(HashTable *table, const char *key, void *value, int replace)
{
    if (!table)
        return HASH_NO_TABLE;
    if (!key)
        return HASH_NO_MEMORY;
    unsigned i = HashString(key, table->buckets);
    // Insertion compares as the platform does; lookup (HashFind) compares bytes.
    for (HashEntry *e = table->chains[i]; e; e = e->next) {
        if (lstrcmpA(e->key, key) == 0) {
            if (!replace)
                return HASH_EXISTS;
            e->value = value;
            return HASH_DONE;
        }
    }
    unsigned len = unsigned(StrByteLength(key));
    HashEntry *e = static_cast<HashEntry *>(PoolAlloc(table->pool, sizeof(HashEntry)));
    if (!e)
        return HASH_NO_MEMORY;
    char *copy = static_cast<char *>(PoolAlloc(table->pool, len + 1));
    if (!copy) {
        PoolFree(table->pool, e);
        return HASH_NO_MEMORY;
    }
    StrCopyBytes(copy, key, len + 1);
    e->key = copy;
    e->value = value;
    e->next = table->chains[i];
    table->chains[i] = e;
    table->count++;
    return HASH_DONE;
}

static int HashSameBytes(const char *a, const char *b)
{
    while (*a && *a == *b) {
        a++;
        b++;
    }
    return *a == *b;
}

int HashFind(HashTable *table, const char *key, void **value)
{
    if (!table || !key)
        return 0;
    for (HashEntry *e = table->chains[HashString(key, table->buckets)]; e; e = e->next) {
        if (HashSameBytes(e->key, key)) {
            if (value)
                *value = e->value;
            return 1;
        }
    }
    return 0;
}

static int HashDeliver(const HashEntry *e, char *keyOut, int keySize, void **valueOut)
{
    if (valueOut)
        *valueOut = e->value;
    if (!keyOut)
        return 1;
    int len = StrByteLength(e->key);
    if (len >= keySize) {
        if (keySize > 0)
            keyOut[0] = '\0';
        return HASH_KEY_TOO_LONG;
    }
    StrCopyBytes(keyOut, e->key, unsigned(len) + 1);
    return 1;
}

int HashIterate(HashTable *table, int mode, char *keyOut, int keySize, void **valueOut)
{
    if (!table)
        return 0;
    if (mode == HASH_FIRST) {
        table->current = nullptr;
        table->currentBucket = 0;
    } else if (table->current) {
        if (table->current->next) {
            table->current = table->current->next;
            return HashDeliver(table->current, keyOut, keySize, valueOut);
        }
        table->current = nullptr;
        table->currentBucket++;
    }
    for (uint32_t b = table->currentBucket; b < table->buckets; b++) {
        if (table->chains[b]) {
            table->current = table->chains[b];
            table->currentBucket = b;
            return HashDeliver(table->current, keyOut, keySize, valueOut);
        }
    }
    table->currentBucket = table->buckets;
    return 0;
}
