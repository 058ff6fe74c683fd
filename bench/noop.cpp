// The start-up benchmark's program: does nothing and ends with 0, so that
// its start is all there is to time.
int wmain() { return 0; }
