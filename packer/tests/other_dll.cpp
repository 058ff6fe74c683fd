// A 64-bit DLL without run_code.
extern "C" __declspec(dllexport) int something_else() { return 1; }
