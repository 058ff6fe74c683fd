// A library that the main library needs; the test puts it in a subfolder,
// where the launcher's search order does not look.
extern "C" __declspec(dllexport) int dependency_value(void) { return 42; }
