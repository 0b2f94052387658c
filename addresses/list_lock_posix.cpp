#include "addresses/list_lock.h"

#include <pthread.h>

namespace {
pthread_mutex_t g_listMutex = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
pthread_mutex_t g_saveMutex = PTHREAD_MUTEX_INITIALIZER;
}  // namespace

void AcquireListLock() {
    pthread_mutex_lock(&g_listMutex);
}
void ReleaseListLock() {
    pthread_mutex_unlock(&g_listMutex);
}
void AcquireSaveLock() {
    pthread_mutex_lock(&g_saveMutex);
}
void ReleaseSaveLock() {
    pthread_mutex_unlock(&g_saveMutex);
}
void DestroyListLocks() {}

// The native build serves tests that run one process per list file.
void* AcquireFileSaveLock(const char*, unsigned) {
    static char held;
    return &held;
}
void ReleaseFileSaveLock(void*) {}
