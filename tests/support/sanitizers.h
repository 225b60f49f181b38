// What the sanitizer builds can and cannot follow.
#pragma once

#include <gtest/gtest.h>

#if defined(__SANITIZE_THREAD__)
#define OMBRELIX_TSAN_BUILD 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define OMBRELIX_TSAN_BUILD 1
#endif
#endif

// The last-resort stop cancels a thread inside a blocking call and unwinds
// its stack; ThreadSanitizer does not model that unwinding through its own
// interceptors and afterwards misreads every synchronisation of that thread.
// Tests of the forced stop therefore run in the normal and ASan passes only.
#ifdef OMBRELIX_TSAN_BUILD
#define SKIP_FORCED_STOP_UNDER_TSAN() \
    GTEST_SKIP() << "the last-resort stop (thread cancellation) is not modelled by ThreadSanitizer"
#else
#define SKIP_FORCED_STOP_UNDER_TSAN() static_cast<void>(0)
#endif
