// A tiny plug-in the library tests load by path.
extern "C" __attribute__((visibility("default"))) int PlatformTestAnswer() { return 42; }
