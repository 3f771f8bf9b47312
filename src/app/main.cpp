#include "app/daemon.h"

int main(int argc, char** argv) { return cnxd::cnxd_main(argc, argv); }
