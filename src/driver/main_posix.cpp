#include "driver/entry.h"

int main() { return plf::InstallerMain(); }
