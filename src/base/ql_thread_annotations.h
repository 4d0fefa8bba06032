// Lock annotations for Clang's thread-safety analysis (-Wthread-safety): a
// member says which mutex guards it, a function which mutexes it needs held
// or free, and the compiler checks every access and every call against that.
// Under other compilers (GCC builds the daemon) they expand to nothing.
//
// Only mutexes that carry the capability attribute can be named: use QLMutex
// (base/ql_mutex.h) where a member is guarded. Recursive mutexes are not
// annotated; their contracts stay in prose.
#ifndef QUORLIN_BASE_QL_THREAD_ANNOTATIONS_H_
#define QUORLIN_BASE_QL_THREAD_ANNOTATIONS_H_

#if defined(__clang__)
#define QL_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define QL_THREAD_ANNOTATION(x)
#endif

// A class whose objects are locks.
#define CAPABILITY(x) QL_THREAD_ANNOTATION(capability(x))
// An RAII class that holds a lock for its lifetime.
#define SCOPED_CAPABILITY QL_THREAD_ANNOTATION(scoped_lockable)

// The member may be read or written only with the lock held.
#define GUARDED_BY(x) QL_THREAD_ANNOTATION(guarded_by(x))
// What the pointer member points to may be used only with the lock held.
#define PT_GUARDED_BY(x) QL_THREAD_ANNOTATION(pt_guarded_by(x))

// The caller must hold the locks, and still holds them on return.
#define REQUIRES(...) QL_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
// The caller must not hold the locks (the function takes them itself).
#define EXCLUDES(...) QL_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))

// The function takes or gives back the locks (the object itself when none
// is named).
#define ACQUIRE(...) QL_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) QL_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
// Takes the locks when it returns the given value.
#define TRY_ACQUIRE(...) QL_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
// Checks at run time that the lock is held; the analysis takes it as held.
#define ASSERT_CAPABILITY(x) QL_THREAD_ANNOTATION(assert_capability(x))
// Returns the named lock (for accessors).
#define RETURN_CAPABILITY(x) QL_THREAD_ANNOTATION(lock_returned(x))

// Turns the analysis off for one function whose locking it cannot follow;
// say why wherever it is used.
#define NO_THREAD_SAFETY_ANALYSIS QL_THREAD_ANNOTATION(no_thread_safety_analysis)

#endif  // QUORLIN_BASE_QL_THREAD_ANNOTATIONS_H_
