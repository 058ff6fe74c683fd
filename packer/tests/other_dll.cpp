// A 64-bit DLL without a run_code function: built once without the name, and
// once with -DRUN_CODE_AS_DATA exporting it as a variable.
#ifdef RUN_CODE_AS_DATA
extern "C" __declspec(dllexport) int run_code = 1;
#endif
extern "C" __declspec(dllexport) int something_else() { return 1; }
