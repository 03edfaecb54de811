// HashTable: text keys to caller-owned values through a fixed number of buckets chained in
// lists, living in its owner's pool (it goes with that pool; there is no destroy). The
// iteration order is part of the log format: bucket 0 to N - 1, and within a bucket the most
// recently inserted entry first.
#pragma once

#include <stdint.h>

constexpr int HASH_FIRST = 1;        // HashIterate: start over
constexpr int HASH_NEXT = 2;         // HashIterate: the entry after the last delivered

constexpr int HASH_DONE = 0;         // HashInsert: inserted or replaced
constexpr int HASH_NO_MEMORY = -1;   // HashInsert: no memory (table unchanged)
constexpr int HASH_EXISTS = -2;      // HashInsert: key present and replace 0
constexpr int HASH_NO_TABLE = -3;    // HashInsert: no table
constexpr int HASH_KEY_TOO_LONG = -1; // HashIterate: the key does not fit the caller's buffer

constexpr int HASH_MAX_BUCKETS = 65535;

struct HashEntry {
    HashEntry *next;  // next in the bucket's chain
    char *key;        // the table's own terminated copy
    void *value;      // stored and handed back, never owned
};

struct HashTable {
    int pool;                 // holds the table, its entries and their key copies
    uint32_t count;           // number of entries
    uint16_t buckets;         // N, fixed at creation
    HashEntry *current;       // iteration: the entry delivered last, or null
    uint32_t currentBucket;   // iteration: bucket being visited (N when ended)
    HashEntry *chains[1];     // N chain heads (allocated to their full count)
};

// A table of buckets chains (1..65535) in pool; null for pool -1, a bad count or no memory.
HashTable *HashCreateInPool(int buckets, int pool);
// Inserts key -> value at the head of its chain; an equal key (lstrcmpA) is replaced when
// replace is 1. Returns HASH_DONE, HASH_EXISTS, HASH_NO_MEMORY or HASH_NO_TABLE.
int HashInsert(HashTable *table, const char *key, void *value, int replace);
// 1 with *value set when a key of exactly these bytes is present; 0 otherwise or without table.
int HashFind(HashTable *table, const char *key, void **value);
// Mode HASH_FIRST starts over, any other mode continues. Copies the next entry's key into
// keyOut (keySize bytes with the terminator; keyOut may be null when keySize is 0) and sets
// *valueOut: 1. 0 when no entry is left or there is no table. HASH_KEY_TOO_LONG when the key
// does not fit: keyOut gets "", *valueOut is still set and the entry counts as delivered.
int HashIterate(HashTable *table, int mode, char *keyOut, int keySize, void **valueOut);
// Bucket of key among buckets: the 16-bit sum of its bytes taken as signed, modulo buckets.
unsigned HashString(const char *key, int buckets);
