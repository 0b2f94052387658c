#include "addresses/list_lock.h"

#include <pthread.h>

namespace {
pthread_mutex_t g_listMutex = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
}

void AcquireListLock() {
    pthread_mutex_lock(&g_listMutex);
}
void ReleaseListLock() {
    pthread_mutex_unlock(&g_listMutex);
}
