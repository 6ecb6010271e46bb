/* Loaded by the dynamic-library tests: one function and one data symbol. */
__attribute__((visibility("default"))) int cvcrtTestModuleValue = 42;

__attribute__((visibility("default"))) int cvcrtTestModuleTwice(int x) { return 2 * x; }
