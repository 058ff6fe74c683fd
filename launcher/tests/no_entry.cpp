// A main library without run_code.
extern "C" __declspec(dllexport) int something_else(void) { return 1; }
