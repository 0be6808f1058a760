#include "app/entry_point.h"

int main(int argc, char* argv[]) { return runKkmBridge(argc, argv); }
