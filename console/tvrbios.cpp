#include "UxLinCore.h"

int main(int argc, char** argv) { return UxLinMain(argc, argv); }
