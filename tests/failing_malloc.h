// A malloc that fails on demand, for the string type's allocations. The test
// program is linked with --wrap=malloc: the module's own calls of malloc (the
// string type is the only caller) come here, while the C++ runtime's, the
// test framework's and the fake file system's allocations do not.
#ifndef TALVERON_TESTS_FAILING_MALLOC_H
#define TALVERON_TESTS_FAILING_MALLOC_H

// From now on, count the module's mallocs; the `failAt`th one (from 1)
// returns null, once. 0 fails none.
void FailMallocAt(int failAt);
// The module's mallocs counted since FailMallocAt.
int MallocCalls();

#endif
