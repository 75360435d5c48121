// A library that exports only some of the gateway entries.
extern "C" __attribute__((visibility("default"))) int cgwGetCaps(int) { return 1; }
