#pragma once
// A small pool of worker threads for work that splits into independent items
// (the curves of a large analysis). Results must not depend on the number of
// threads: a body writes only the results of its own item, and the caller
// combines them in item order afterwards.

#include <functional>

namespace kelvora {

// Calls body(i) once for every i in [0, n), on the worker threads and the
// calling thread, and returns when all calls have returned. The order of the
// calls is unspecified. Nested calls run on the calling thread alone. When a
// call throws, items not yet started are skipped, and once every thread has
// left the job the first exception is rethrown on the calling thread.
void parallel_for(int n, const std::function<void(int)>& body);

// The number of threads parallel_for uses (1: everything on the calling
// thread). The default is the number of processors, at most 8.
void set_worker_threads(int n);
int worker_threads();

}  // namespace kelvora
