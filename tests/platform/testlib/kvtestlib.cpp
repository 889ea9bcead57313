// A tiny library that the platform tests load at run time.
#if defined(_WIN32)
#define KV_EXPORT extern "C" __declspec(dllexport)
#else
#define KV_EXPORT extern "C" __attribute__((visibility("default")))
#endif

KV_EXPORT int KvTestAdd(int a, int b) { return a + b + 1000; }
