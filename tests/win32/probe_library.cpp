// A tiny library for the library-loading tests: two builds of it (values 1
// and 2) stand for the configured library and one planted elsewhere.
extern "C" __declspec(dllexport) int probe_value() { return PROBE_VALUE; }
